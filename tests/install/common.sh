# Sourced by the install tests: what they share.

# pass TEXT: one passed check.
pass() {
  checks=$((checks + 1))
  echo "ok: $*"
}

# wait_for SECONDS COMMAND...: runs the command every 0.1 s until it succeeds.
wait_for() {
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# build_package BUILD_DIR OUT_DIR: builds the Debian package of a build folder with CPack into
# OUT_DIR (its log in OUT_DIR.log) and prints the package's path.
build_package() {
  if ! timeout 300 cpack --config "$1/CPackConfig.cmake" -B "$2" > "$2.log" 2>&1; then
    echo "cpack failed; the end of $2.log:" >&2
    tail -n 20 "$2.log" >&2
    return 1
  fi
  compgen -G "$2/vestrel_*.deb"
}
