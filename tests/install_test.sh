#!/usr/bin/env bash
# Installs the build into a scratch prefix and packs it as a Debian package, and
# checks that each holds exactly the program, its desktop entry, its icons and its
# AppStream data, valid and consistent with each other.
#   install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
id=org.namora.Namora

scratch=$(mktemp -d)
# cmake --install writes its manifest into the build tree; leave that as found.
manifest=$build/install_manifest.txt
[ -e "$manifest" ] && cp -p "$manifest" "$scratch/manifest.saved"
cleanup() {
    if [ -e "$scratch/manifest.saved" ]; then cp -p "$scratch/manifest.saved" "$manifest"; else rm -f "$manifest"; fi
    rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Every file an installation holds, relative to the prefix.
expected=(bin/namora share/applications/$id.desktop share/metainfo/$id.metainfo.xml
    share/icons/hicolor/scalable/apps/$id.svg)
sizes=(16 32 48 64 128 256)
for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x${s}/apps/$id.png"); done
want=$(printf '%s\n' "${expected[@]}" | sort)

same_files() { # what, actual listing
    if [ "$2" != "$want" ]; then
        fail "$1 holds other files than expected:"
    fi
}

# --- cmake --install into a scratch prefix
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
same_files "the installed tree" "$(cd "$prefix" && find . ! -type d | sed 's#^\./##' | sort)"

[ -x "$prefix/bin/namora" ] || fail "bin/namora is not executable"
out=$("$prefix/bin/namora" --version) || fail "the installed program does not run"
[[ $out == "Namora $version"* ]] || fail "installed program says '$out', not 'Namora $version'"
# Installed, the program keeps its settings per user even where root could write bin.
out=$(HOME=/nonexistent-home XDG_CONFIG_HOME=/nonexistent-config "$prefix/bin/namora" --help) || fail "--help fails"
grep -q "^Settings file: */nonexistent-config/namora/namora.ini$" <<<"$out" ||
    fail "the installed program's settings are not per user: $(grep Settings <<<"$out")"

for s in "${sizes[@]}"; do
    png=$prefix/share/icons/hicolor/${s}x${s}/apps/$id.png
    kind=$(file -b "$png")
    [[ $kind == "PNG image data, $s x $s, 8-bit/color RGBA,"* ]] || fail "${s}px icon is: $kind"
done
svg=$prefix/share/icons/hicolor/scalable/apps/$id.svg
[[ $(file -b "$svg") == SVG* ]] || fail "scalable icon is: $(file -b "$svg")"
grep -q 'viewBox="0 0 256 256"' "$svg" || fail "scalable icon has no 256 viewBox"

desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 ||
    { cat "$scratch/appstream.log" >&2; fail "appstreamcli rejects the metainfo"; }
# The names that tie the three together.
grep -qx "Exec=namora %f" "$desktop" || fail "desktop entry does not start bin/namora"
grep -qx "Icon=$id" "$desktop" || fail "desktop entry names another icon than $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "metainfo launches another desktop entry"
grep -q "<release version=\"$version\" " "$metainfo" || fail "metainfo's release is not $version"

# --- cpack -G DEB into a scratch directory
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; exit 1; }
debs=("$scratch"/deb/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { fail "cpack made ${#debs[@]} packages"; exit 1; }
deb=${debs[0]}
[ "$(basename "$deb")" = "namora_${version}_$(dpkg --print-architecture).deb" ] || fail "package file is $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
dpkg-deb --info "$deb" >/dev/null || fail "dpkg-deb cannot read the package"
[ "$(field Package)" = namora ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = graphics ] || fail "Section: $(field Section)"
[[ $(field Maintainer) == *"<"*@*">" ]] || fail "Maintainer: $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no Description"
# Found by dpkg-shlibdeps from what the program links.
depends=$(field Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libc6; do
    [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == *"$lib" ]] || fail "Depends lacks $lib: $depends"
done

contents=$(dpkg-deb --contents "$deb")
same_files "the package" "$(awk '$1 !~ /^d/ {print $6}' <<<"$contents" | sed 's#^\./usr/##' | sort)"
awk '$6 == "./usr/bin/namora" {print $1}' <<<"$contents" | grep -qx -- '-rwxr-xr-x' ||
    fail "usr/bin/namora is not mode 0755 in the package"
if awk '$6 !~ /^\.\/(usr\/)?$/ && $6 !~ /^\.\/usr\// {found=1} END {exit !found}' <<<"$contents"; then
    fail "the package installs outside /usr"
fi

# The unpacked package as a system would hold it: desktop entry, icons and
# metainfo must agree with each other.
dpkg-deb -x "$deb" "$scratch/root"
appstreamcli validate-tree --no-net "$scratch/root" >"$scratch/tree.log" 2>&1 ||
    { cat "$scratch/tree.log" >&2; fail "appstreamcli rejects the unpacked package"; }

# Lintian's view is reported, not enforced.
if command -v lintian >/dev/null; then
    echo "lintian:"
    # Its scratch files go with ours.
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "install and package: ok"
