# Installs the python component of BUILD_DIR into PREFIX (emptied first), then imports rlegolomb
# with PYTHON from PREFIX/PACKAGE_DIR alone and round-trips a few bytes through it.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                        --component python
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
set(check [=[
import sys, rlegolomb
where = sys.argv[1]
assert rlegolomb.__file__.startswith(where), (rlegolomb.__file__, where)
assert rlegolomb.decompress(rlegolomb.compress(b"installed", 3)) == b"installed"
print("rlegolomb", rlegolomb.__version__, "imported from", rlegolomb.__file__)
]=])
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PYTHONPATH=${PREFIX}/${PACKAGE_DIR}"
                        "${PYTHON}" -c "${check}" "${PREFIX}/${PACKAGE_DIR}/"
                WORKING_DIRECTORY "${PREFIX}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "importing the installed rlegolomb failed: ${status}")
endif()
