# Shared by the set-up scripts: configure and build one CMake preset.
# shellcheck shell=bash
KV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

kv_build() {
  local preset="$1"; shift
  local extra=()
  # CI builds with warnings as errors; a developer's build keeps going on a warning.
  if [ "${CI:-}" = "true" ] || [ "${KV_WERROR:-}" = "ON" ]; then extra+=(-DKV_WERROR=ON); fi
  # A compiler cache outside the repository survives between runs on the same machine; with
  # paths taken relative to the checkout, clones and worktrees in other folders share its hits.
  if command -v ccache >/dev/null; then
    extra+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="$KV_ROOT" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
  fi
  cmake --preset "$preset" -S "$KV_ROOT" "${extra[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
}
