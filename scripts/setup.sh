# Shared by scripts/test and scripts/run: installs what is missing, then configures and builds.
# Usage: quelmar_build <build-dir> [extra cmake arguments...] [-- targets...]
quelmar_build() {
    local dir=$1
    shift
    local configure=() targets=()
    while [[ $# -gt 0 && $1 != -- ]]; do configure+=("$1"); shift; done
    [[ ${1:-} == -- ]] && shift
    targets=("$@")

    "$root/scripts/deps"
    if [[ ! -f $dir/CMakeCache.txt ]]; then
        cmake -S "$root" -B "$dir" -G Ninja "${configure[@]}"
    else
        cmake "$dir" "${configure[@]}" >/dev/null
    fi
    if [[ ${#targets[@]} -gt 0 ]]; then
        cmake --build "$dir" --target "${targets[@]}"
    else
        cmake --build "$dir"
    fi
}
