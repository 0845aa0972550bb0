# Shared by the scripts in tools/: messages, Debian packages, interpreters and
# the test requirements. Sourced, not run.

# A heading with the minutes and seconds since the script started.
say() { printf '\n== [%d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"; }

# Installs the Debian packages among "$@" that are missing (as root, or
# through sudo).
install_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  local sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
}

# "3.13", or "3.13t" for a free-threaded build, which counts apart from the
# GIL build of the same version; empty for anything but CPython >= 3.11.
python_version_tag() {
  "$1" -c 'import sys, sysconfig
if sys.version_info >= (3, 11) and sys.implementation.name == "cpython":
    print("%d.%d%s" % (*sys.version_info[:2], "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))' 2>/dev/null || true
}

# Every CPython >= 3.11 that pyenv knows, plus the default python3, one per
# version tag, newest first.
find_pythons() {
  local candidates=() dir python tag seen=" "
  if command -v pyenv >/dev/null 2>&1; then
    for dir in "$(pyenv root)"/versions/*; do
      [ -x "$dir/bin/python3" ] && candidates+=("$dir/bin/python3")
    done
  fi
  command -v python3 >/dev/null 2>&1 && candidates+=("$(command -v python3)")
  for python in "${candidates[@]}"; do
    tag=$(python_version_tag "$python")
    [ -n "$tag" ] || continue
    case "$seen" in *" $tag "*) continue ;; esac
    seen="$seen$tag "
    printf '%s %s\n' "$tag" "$python"
  done | sort -t. -k1,1nr -k2,2nr | cut -d' ' -f2-
}

newest_python() { find_pythons | head -n 1; }

# The requirements of the package's `test` extra, one per line, read from
# pyproject.toml so that no script keeps its own list.
test_requirements() {
  "$1" -c 'import sys, tomllib
with open(sys.argv[1], "rb") as f:
    print("\n".join(tomllib.load(f)["project"]["optional-dependencies"]["test"]))' "$root/pyproject.toml"
}

# Runs pytest; its "collected nothing" status (5) is a failure here, since the
# suite is never meant to be empty.
run_pytest() {
  local status=0
  "$@" || status=$?
  if [ "$status" -eq 5 ]; then
    echo "pytest collected no tests: the suite is missing or broken" >&2
    return 1
  fi
  return "$status"
}
