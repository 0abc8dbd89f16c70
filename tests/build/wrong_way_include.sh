#!/usr/bin/env bash
# Proves that the layering is a fact of the build: in a copy of the sources,
# a file of each library that includes a header of a library it may not link
# does not compile, with the tests switched off, while the same file without
# that include does. Usage: wrong_way_include.sh SOURCE_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/voice-layering-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Only what the program's build reads; the rest of the tree has no say.
mkdir -p "$work/tree"
for part in CMakeLists.txt cmake src audio tools bench; do
    cp -r "$source_dir/$part" "$work/tree/"
done

# a file of one library | a header it must not see | what the include would cross
cases=(
    "src/voice/PauseList.cpp|api/HttpClient.h|web API from the voice side"
    "src/link/CashierMessage.cpp|voice/AnnouncementComposer.h|voice side from the cashier link"
    "src/api/BaseUrl.cpp|link/SocketHelper.h|cashier link from the web API"
    "src/app/Helpers.cpp|app/VoiceServices.h|the services from the library below them, in the same folder"
    "src/voice/MessageCodes.cpp|app/VoiceServices.h|the services from the voice side"
    "src/api/LoginApi.cpp|ui/MainFrame.h|windows from the web API"
)
# Without the tests. An object is compiled without building the libraries its
# target links first (the include folders are made when configuring), so that
# each case costs one compile.
cmake -S "$work/tree" -B "$work/build" -G Ninja -DVOICE_BUILD_TESTS=OFF \
    -DCMAKE_AUTOGEN_ORIGIN_DEPENDS=OFF >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; exit 1; }

object() {
    # The object file ninja knows for a source, whichever target compiles it.
    ninja -C "$work/build" -t targets all | sed -n "s|^\(.*/${1##*/}\.o\): .*|\1|p" | head -n 1
}

failed=0
for entry in "${cases[@]}"; do
    IFS='|' read -r file header what <<<"$entry"
    target=$(object "$file")
    if [ -z "$target" ]; then
        echo "FAIL: no object for $file"
        failed=1
        continue
    fi
    printf '#include "%s"\n' "$header" >>"$work/tree/$file"
    if ninja -C "$work/build" "$target" >"$work/out.log" 2>&1; then
        echo "FAIL: $file compiled although it includes $header ($what)"
        failed=1
    elif grep -q "$header: No such file or directory" "$work/out.log"; then
        echo "ok: $file cannot include $header ($what)"
    else
        echo "FAIL: $file did not compile, but not for $header:"
        cat "$work/out.log"
        failed=1
    fi
    # Without the wrong include the same file compiles: the failure above is
    # the layering's, not a broken copy.
    sed -i '$d' "$work/tree/$file"
    if ! ninja -C "$work/build" "$target" >"$work/out.log" 2>&1; then
        echo "FAIL: $file does not compile even without the wrong include:"
        cat "$work/out.log"
        failed=1
    fi
done
[ "$failed" = 0 ] && echo "every wrong-way include is refused"
exit "$failed"
