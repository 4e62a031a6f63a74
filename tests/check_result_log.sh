#!/usr/bin/env bash
# Runs copies of padprobe from folders of every awkward kind and checks where
# padprobe.txt lands and what it holds, and that a file it must not replace
# stays as it was. Every run must print the failure tail and end with 255:
# there is no maker's driver here.
#   check_result_log.sh beside|refused|full WORK_DIR EXPECTED_CONSOLE lf|crlf
#                       PADPROBE HOLD_FILE|- [RUNNER...]
# WORK_DIR is thrown away and made anew. Under Wine it must lie below the
# prefix's drive_c, so that Windows paths can be derived from it. The full
# group needs a tmpfs mount and reports 77 (skipped) when it cannot have one.
set -uo pipefail
group=$1 work=$2 expected=$3 newline=$4 padprobe=$5 hold=$6
shift 6
runner=("$@")

case "$padprobe" in *.exe) exe=.exe ;; *) exe= ;; esac
record=$'Can\'t detected touchpad!\r\nGet firmware version fail!\r\n'
failures=0
fail() { echo "FAIL [$case_name]: $*"; failures=$((failures + 1)); }

want=$(mktemp) got=$(mktemp) whole=$(mktemp)
mounted=
cleanup() {
    [ -n "$mounted" ] && { umount "$mounted" 2>/dev/null || umount -l "$mounted"; }
    rm -f "$want" "$got" "$whole"
}
trap cleanup EXIT
printf '%s' "$record" >"$whole"
if [ "$newline" = crlf ]; then sed 's/$/\r/' "$expected" >"$want"; else cp "$expected" "$want"; fi

fresh() {  # fresh CASE_NAME: an empty work folder and one to run from
    case_name=$1
    chmod -R u+w "$work" 2>/dev/null
    rm -rf "$work"
    mkdir -p "$work/elsewhere"
}

windows_path() {  # the C: path of a file below drive_c
    local rel=${1#*/drive_c/}
    echo "C:\\${rel//\//\\}"
}

# Runs an executable from another folder; checks console and exit status.
run() {
    (cd "$work/elsewhere" && "${runner[@]}" "$1" </dev/null >"$got")
    local rc=$?
    [ "$rc" = 255 ] || fail "exit status $rc, expected 255"
    cmp -s "$got" "$want" || fail "console output differs: $(od -c "$got" | head -3)"
}

logs() { (cd "$work" && find . -name padprobe.txt | sort | tr '\n' ' '); }

install() {  # install FOLDER NAME: a copy of padprobe there
    mkdir -p "$1" && cp "$padprobe" "$1/$2"
}

beside() {
    local long=$work/long
    for n in 1 2 3; do long=$long/folder.$n.$(printf 'x%.0s' {1..90}); done
    local cases=(
        "full stop in the folder name|$work/My.Tools|padprobe$exe"
        "non-ASCII folder name|$work/Prüfung ツール ñ|padprobe$exe"
        "folder path longer than 260 characters|$long|padprobe$exe"
        "renamed executable|$work/renamed|tp-check.v2$exe"
    )
    local entry folder name
    for entry in "${cases[@]}"; do
        IFS='|' read -r case_name folder name <<<"$entry"
        fresh "$case_name"
        install "$folder" "$name"
        run "$folder/$name"
        [ "$(logs)" = "./${folder#"$work"/}/padprobe.txt " ] || fail "logs found: $(logs)"
        cmp -s "$folder/padprobe.txt" "$whole" || fail "record differs"
    done
    local windows
    windows=$(windows_path "$long/padprobe$exe")
    [ -z "$exe" ] || [ ${#windows} -gt 260 ] || { case_name=long; fail "Windows path only ${#windows} characters"; }

    fresh "earlier longer record"
    install "$work/t" "padprobe$exe"
    printf '[2020-01-01 00:00:00]\r\nDetected palvero touchpad!\r\n%0200d\r\n' 0 >"$work/t/padprobe.txt"
    run "$work/t/padprobe$exe"
    cmp -s "$work/t/padprobe.txt" "$whole" || fail "not replaced whole"
}

# Plants padprobe.txt with SETUP, runs, and checks that nothing changed.
refused() {
    local cases=(directory read-only hard-link)
    if [ "$hold" != - ]; then cases+=(held); fi
    # Wine 8 shows a host symbolic link as its target: only the host sees one.
    if [ -z "$exe" ]; then cases+=(symbolic-link); fi
    local t=$work/t log=$work/t/padprobe.txt before
    for case_name in "${cases[@]}"; do
        fresh "$case_name"
        install "$t" "padprobe$exe"
        printf 'an earlier record\r\n' >"$work/other.txt"
        local holder=
        case $case_name in
        directory) mkdir "$log" && cp "$work/other.txt" "$log/inside" ;;
        read-only) cp "$work/other.txt" "$log" && chmod a-w "$log" ;;
        hard-link) ln "$work/other.txt" "$log" ;;
        symbolic-link) ln -s ../other.txt "$log" ;;
        held)
            cp "$work/other.txt" "$log"
            coproc HOLDER { "${runner[@]}" "$hold" "$(windows_path "$log")"; }
            holder=$HOLDER_PID
            local said=
            read -r -t 20 -u "${HOLDER[0]}" said
            [ "${said%$'\r'}" = held ] || fail "helper said: $said"
            ;;
        esac
        before=$(ls -ld "$log" | cut -d' ' -f1-2)
        run "$t/padprobe$exe"
        if [ -n "$holder" ]; then
            eval "exec ${HOLDER[1]}>&-"
            wait "$holder"
        fi
        [ "$(ls -ld "$log" | cut -d' ' -f1-2)" = "$before" ] || fail "changed: $(ls -ld "$log")"
        local kept=$log
        [ -d "$log" ] && kept=$log/inside
        cmp -s "$kept" "$work/other.txt" || fail "content changed"
        [ "$(cat "$work/other.txt")" = $'an earlier record\r' ] || fail "linked file changed"
    done
}

# A folder on a full filesystem: the open succeeds, the bytes cannot follow,
# so a reader must find no file rather than part of a record.
full() {
    case_name="full disk"
    fresh "$case_name"
    local disk=$work/disk size
    mkdir -p "$disk"
    size=$(( ($(stat -c %s "$padprobe") / 1024) + 256 ))
    mount -t tmpfs -o "size=${size}k" padprobe-full "$disk" 2>/dev/null || { echo "no tmpfs mount here"; exit 77; }
    mounted=$disk
    install "$disk" "padprobe$exe"
    dd if=/dev/zero of="$disk/filler" bs=4096 2>/dev/null
    : >"$disk/probe" || fail "cannot create a file on the full disk"
    (printf x >"$disk/probe") 2>/dev/null && fail "the disk is not full"
    rm -f "$disk/probe"
    run "$disk/padprobe$exe"
    [ "$(logs)" = "" ] || fail "a log was left: $(logs) ($(stat -c %s "$disk/padprobe.txt") bytes)"
}

"$group"
exit $((failures > 0))
