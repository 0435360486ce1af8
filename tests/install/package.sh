# Sourced by the install tests. build_package BUILD_DIR OUT_DIR: builds the Debian package of a
# build folder with CPack into OUT_DIR (its log in OUT_DIR.log) and prints the package's path.
build_package() {
  if ! timeout 300 cpack --config "$1/CPackConfig.cmake" -B "$2" > "$2.log" 2>&1; then
    echo "cpack failed; the end of $2.log:" >&2
    tail -n 20 "$2.log" >&2
    return 1
  fi
  compgen -G "$2/vestrel_*.deb"
}
