/* Expands an RLE_Golomb stream from standard input to standard output, refusing more than 1 GiB. */
#include <rlegolomb.h>
#include <stdio.h>

int main(void) {
  static unsigned char in_buf[1 << 16], out_buf[1 << 16];
  rlegolomb_decoder* d = rlegolomb_decoder_create();
  rlegolomb_status status = d != NULL ? RLEGOLOMB_MORE : RLEGOLOMB_ERROR_MEMORY;
  rlegolomb_decoder_set_limit(d, (uint64_t)1 << 30);
  while (status == RLEGOLOMB_MORE) {
    size_t got = fread(in_buf, 1, sizeof in_buf, stdin);
    int final = got < sizeof in_buf; /* a short read: the end of the input, or an error */
    rlegolomb_in in = {in_buf, got, 0};
    do {
      rlegolomb_out out = {out_buf, sizeof out_buf, 0};
      status = rlegolomb_decode(d, &out, &in, final);
      if (fwrite(out_buf, 1, out.pos, stdout) != out.pos)
        final = -1;
    } while (status == RLEGOLOMB_MORE && final >= 0 && (in.pos < in.size || final));
    if (ferror(stdin) || final < 0)
      break;
  }
  rlegolomb_decoder_free(d);
  if (status != RLEGOLOMB_DONE)
    fprintf(stderr, "expand_stream: %s\n",
            status == RLEGOLOMB_MORE ? "read or write error" : rlegolomb_status_text(status));
  return status == RLEGOLOMB_DONE && fflush(stdout) == 0 ? 0 : 1;
}
