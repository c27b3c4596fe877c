#!/bin/bash
# A stand-in for tdftogif that knows --help, --version and --fit, as later
# versions do, and misbehaves on chosen datasets: for an input whose path
# holds "pass-03" it hangs in a child process (for the time limit: a sleep
# of $STAND_IN_SLEEP seconds, which a test makes its own), for
# "pass-04" it crashes, for "pass-05" it ends with 0 leaving an empty image.
# Everything else goes to the real converter in $REAL_TDFTOGIF, without
# --fit N (the image is then not reduced).
real=${REAL_TDFTOGIF:?}
case " $* " in
    *" --help "*) echo "       --fit PIXELS     reduce the raster to fit"; exit 0 ;;
    *" --version "*) echo "tdftogif 9.9-stand-in"; exit 0 ;;
esac
args=()
while [ $# -gt 0 ]; do
    if [ "$1" = --fit ]; then shift 2; continue; fi
    args+=("$1")
    shift
done
case ${args[-1]} in
    *pass-03*) sleep "${STAND_IN_SLEEP:-30.25}" & wait; exit 0 ;;
    *pass-04*) kill -SEGV $$ ;;
    *pass-05*) : > "${args[-2]}"; exit 0 ;;
esac
exec "$real" "${args[@]}"
