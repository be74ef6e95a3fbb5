# The tally of the end-to-end scripts, sourced by them.
passed=0
failed=0
expect() {  # expect DESCRIPTION COMMAND...: passes when the command succeeds
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}
# Prints the tally; succeeds when nothing failed.
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
