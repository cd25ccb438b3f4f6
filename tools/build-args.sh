# Sourced by tools/run-tests.sh and tools/run-demo.sh: splits their arguments into the build folder
# (build; default ROOT/build) and the options for CMake (options: each argument that begins with -D).
build=$root/build
options=""
for arg in "$@"; do
    case $arg in
    -D*) options="$options $arg" ;;
    *) build=$arg ;;
    esac
done
