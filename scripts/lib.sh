# Shared by the set-up scripts: configure and build one CMake preset.
# shellcheck shell=bash
KV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

kv_build() {
  local preset="$1"; shift
  local extra=()
  # CI builds with warnings as errors; a developer's build keeps going on a warning.
  if [ "${CI:-}" = "true" ] || [ "${KV_WERROR:-}" = "ON" ]; then extra+=(-DKV_WERROR=ON); fi
  cmake --preset "$preset" -S "$KV_ROOT" "${extra[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
}
