# bash completion for rlegolomb: its options, and .rlg files (with folders) after -d, -t or -l.
_rlegolomb() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  case $prev in
    -o | --output)
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    -T | --threads)
      COMPREPLY=($(compgen -W "0 1 2 4 8" -- "$cur"))
      return
      ;;
  esac
  case $cur in
    --k=* | --max-output=* | -T?* | --threads=*)
      return
      ;;
    -*)
      COMPREPLY=($(compgen -W "-d --decompress --uncompress -z --compress -c --stdout
        --to-stdout -o --output= -f --force -k --keep --rm --k= -t --test -l --list
        --max-output= --sparse --no-sparse -T --threads= -q --quiet -v --verbose -h --help -V
        --version" \
        -- "$cur"))
      [[ ${COMPREPLY[0]} == *= ]] && compopt -o nospace
      return
      ;;
  esac
  local word expanding=0
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    case $word in
      --) break ;;
      --decompress | --uncompress | --test | --list) expanding=1 ;;
      --*) ;;
      -*[dtl]*) expanding=1 ;;
    esac
  done
  if ((expanding)); then
    COMPREPLY=($(compgen -f -X '!*.rlg' -- "$cur") $(compgen -d -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _rlegolomb rlegolomb
