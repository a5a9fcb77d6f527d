#!/bin/sh
# scripts/install-deps against stand-in package tools that record their arguments: which manager it picks,
# which packages it asks for, under which names, and what it does when that fails.
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/install-deps-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# The tools install-deps uses besides the package managers, for a PATH that has no real dpkg or apt-get.
mkdir -p "$work/base"
for tool in sh awk sed grep tr cat id dirname; do
  ln -s "$(command -v "$tool")" "$work/base/$tool"
done

mkdir -p "$work/stubs"
cat >"$work/stubs/pacman" <<'EOF'
#!/bin/sh
echo "pacman $*" >>"$LOG"
case $1 in
-Q)
  shift
  status=0
  for p in "$@"; do
    case " $INSTALLED " in
    *" $p "*) echo "$p 1.0-1" ;;
    *) echo "error: package '$p' was not found" >&2; status=1 ;;
    esac
  done
  exit $status
  ;;
-S) exit "${INSTALL_STATUS:-0}" ;;
esac
exit 1
EOF
cat >"$work/stubs/dpkg-query" <<'EOF'
#!/bin/sh
eval "p=\${$#}"
case " $INSTALLED " in *" $p "*) printf 'install ok installed' ;; *) exit 1 ;; esac
EOF
cat >"$work/stubs/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$LOG"
exit "${INSTALL_STATUS:-0}"
EOF
cat >"$work/stubs/sudo" <<'EOF'
#!/bin/sh
exec "$@"
EOF
chmod +x "$work/stubs/"*

# A checkout of install-deps with small package lists.
mkdir -p "$work/tree/scripts"
cp "$src/scripts/install-deps" "$work/tree/scripts/"
printf '# comment\ng++\nlibgtest-dev\nlibgmock-dev\ncmake\nlibclang-rt-dev\n' >"$work/tree/packages.txt"
printf '# comment\ng++ gcc\nlibgtest-dev gtest\nlibgmock-dev gtest\ncmake cmake\nlibclang-rt-dev compiler-rt\n' \
  >"$work/tree/packages-pacman.txt"

printf 'NAME="Arch Linux"\nID=arch\n' >"$work/arch"
printf 'ID=tuvrek\nID_LIKE="arch"\n' >"$work/arch-like"
printf 'ID=tuvrek\n' >"$work/unknown"
printf 'PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"\nID=debian\n' >"$work/debian"

# name | os-release | PATH | installed | install status | expected status | expected calls (";" between)
check() {
  name=$1 release=$2 path=$3 installed=$4 install_status=$5 want_status=$6 want_calls=$7
  : >"$work/log"
  status=0
  LOG=$work/log INSTALLED=$installed INSTALL_STATUS=$install_status TUVREK_OS_RELEASE=$work/$release \
    PATH=$path sh "$work/tree/scripts/install-deps" >"$work/out" 2>&1 || status=$?
  calls=$(awk 'NR > 1 { printf ";" } { printf "%s", $0 }' "$work/log")
  if [ "$status" -ne "$want_status" ] || [ "$calls" != "$want_calls" ]; then
    echo "FAIL $name: status $status (want $want_status)"
    echo "  calls: $calls"
    echo "  want:  $want_calls"
    sed 's/^/  out: /' "$work/out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

all=$work/stubs:$PATH
only_pacman=$work/stubs:$work/base
rm_debian() { rm -f "$work/stubs/dpkg-query" "$work/stubs/apt-get"; }

check "arch: only the missing, by pacman names, once each" arch "$all" "cmake" 0 0 \
  "pacman -Q gcc gtest cmake compiler-rt;pacman -S --needed --noconfirm gcc gtest compiler-rt"
check "arch: nothing missing, nothing installed" arch "$all" "gcc gtest cmake compiler-rt" 0 0 \
  "pacman -Q gcc gtest cmake compiler-rt"
check "arch: a failing pacman -S fails" arch "$all" "" 1 1 \
  "pacman -Q gcc gtest cmake compiler-rt;pacman -S --needed --noconfirm gcc gtest cmake compiler-rt"
check "ID_LIKE=arch picks pacman" arch-like "$all" "gcc gtest cmake compiler-rt" 0 0 \
  "pacman -Q gcc gtest cmake compiler-rt"
check "debian: apt-get, even with a pacman on PATH" debian "$all" "g++ cmake" 0 0 \
  "apt-get update -qq;apt-get install -y -qq --no-install-recommends libgtest-dev libgmock-dev libclang-rt-dev"
check "debian: nothing missing, apt-get not run" debian "$all" "g++ libgtest-dev libgmock-dev cmake libclang-rt-dev" 0 0 ""
rm_debian
check "unknown release, only pacman present" unknown "$only_pacman" "" 0 0 \
  "pacman -Q gcc gtest cmake compiler-rt;pacman -S --needed --noconfirm gcc gtest cmake compiler-rt"
check "no release file, only pacman present" absent "$only_pacman" "gcc" 0 0 \
  "pacman -Q gcc gtest cmake compiler-rt;pacman -S --needed --noconfirm gtest cmake compiler-rt"
check "unknown release, no package manager" unknown "$work/base" "" 0 1 ""

# A Debian name without a pacman name stops before anything is installed, and says which.
printf 'libfoo-dev\n' >>"$work/tree/packages.txt"
check "arch: a package without a pacman name" arch "$all" "" 0 1 ""
grep -q "no pacman name for libfoo-dev" "$work/out" || { echo "FAIL: the missing name is not named"; failures=$((failures + 1)); }

# The project's own lists: every Debian package has its pacman name, and no compiler version is pinned.
cp "$src/packages.txt" "$src/packages-pacman.txt" "$work/tree/"
: >"$work/log"
if ! LOG=$work/log INSTALLED="" TUVREK_OS_RELEASE=$work/arch PATH=$all sh "$work/tree/scripts/install-deps" \
    >"$work/out" 2>&1; then
  echo "FAIL: the project's lists on pacman"
  sed 's/^/  out: /' "$work/out"
  failures=$((failures + 1))
fi
if grep -E '^(clang|llvm|lld|libclang|libllvm|gcc|g\+\+)[a-z+-]*-[0-9]+' "$src/packages.txt"; then
  echo "FAIL: packages.txt pins a compiler version"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
echo "all passed"
