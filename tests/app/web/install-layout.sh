#!/bin/sh
# Installs the built application into a temporary prefix and checks what a user gets: the
# program, its resources, the desktop entry and the icons in the usual places; the installed
# program answers --version and --help and, started offscreen up to its gallery, uses the
# resources installed beside it (its run log names them), not the source tree's.
#
#   install-layout.sh <build folder> <version> [cmake program]
set -eu
build=$1
version=$2
cmake=${3:-cmake}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "install-layout: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
prefix=$(cd "$work/prefix" && pwd -P)
resources=$prefix/share/korvane/resources

[ -x "$prefix/bin/korvane" ] || fail "no program in bin/"
for item in KRObjectInfo.xml DefaultProject.xml editable-resources.json toolbar-fix.js \
    templates syntax icons backgrounds devices \
    samples/Showcase.krproj/project.xml samples/TipCalculator.krproj/project.xml \
    runtime/KRObjects-min.js \
    local-server/kr-local-runtime.js local-server/kr-server-page-sandbox.js local-server/kr-server-storage.js \
    local-server/kr-server-page-scripts.js local-server/js-class.js \
    local-server/bluff-src.js local-server/node_modules/jshint/package.json \
    local-server/node_modules/uglify-js/package.json local-server/jquery-1.9.0/jquery.min.js \
    local-server/jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js local-server/photoswipe-3.0.5/VERSION; do
  [ -e "$resources/$item" ] || fail "resources/$item is missing"
done
for item in CMakeLists.txt linux runtime/node_modules runtime/test local-server/test \
    local-server/node_modules/jquery-mobile; do
  [ ! -e "$resources/$item" ] || fail "resources/$item is installed, but only builds and tests use it"
done

entry=$prefix/share/applications/korvane.desktop
[ -f "$entry" ] || fail "no desktop entry"
grep -qx 'Exec=korvane %F' "$entry" || fail "the desktop entry does not start korvane"
grep -qx 'Icon=korvane' "$entry" || fail "the desktop entry names no korvane icon"
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$entry" || fail "the desktop entry is not valid"
fi
icon=$prefix/share/icons/hicolor/256x256/apps/korvane.png
[ -f "$icon" ] || fail "no 256 px icon"
# A PNG whose header says 256 x 256.
[ "$(od -An -tx1 -j12 -N12 "$icon" | tr -d ' \n')" = "494844520000010000000100" ] || fail "the icon is no 256 x 256 PNG"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/korvane.svg" || fail "no scalable icon"

[ "$("$prefix/bin/korvane" --version)" = "Korvane $version" ] || fail "--version gives: $("$prefix/bin/korvane" --version)"
"$prefix/bin/korvane" --help | grep -q '^Usage: korvane' || fail "--help shows no usage"

# A first start as a new user, up to the gallery, from a folder far from the source tree.
home=$work/home
mkdir -p "$home"
unset KR_RESOURCES_DIR
(cd "$work" && HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
  XDG_STATE_HOME=$home/.local/state XDG_CACHE_HOME=$home/.cache KR_QUIT_WHEN_GALLERY_SHOWN=1 \
  timeout 300 "$prefix/bin/korvane" >"$work/out.txt" 2>&1) || { cat "$work/out.txt" >&2; fail "the installed program did not come up"; }
log=$(find "$home/.local/state/Korvane" -name '*.log' ! -name '*.old.log' | head -n 1)
[ -n "$log" ] || fail "the program wrote no run log"
grep -q "Resources: $resources\$" "$log" || { grep 'Resources:' "$log" >&2 || true; fail "the program did not use $resources"; }
echo "install-layout: $prefix is complete and runs"
