# Whether a job's final note tells the truth, judged from the images the
# guest left, sourced by scripts/device-vm.sh after lib.sh. The tool logs
# no note, so the note is read from the guest's screen (korvello-pictures
# --read-note); what it claims is then held against the media, read back
# on the host.
#
# A run leaves OUT/run.env, which names the job and what the device held
# before it: JOB (backup, restoration, upgrade), SNUM, MEDIUM (usb or
# sdcard), DATA (/data), VERSION (the version file's first line), OPT
# (/opt) and BEFORE (a file naming what the device's folder on the medium
# held). After the job OUT/system and OUT/$MEDIUM hold the dumps.

# judged true|false WHY: the verdict's words; fails when false.
judged() {
    echo "$1 ($2)"
    [ "$1" = true ]
}

verdict_folder() {
    echo "$OUT/$MEDIUM/run/data/data-$SNUM"
}

data_kept() {
    same_tree "$OUT/system/data" "$DATA"
}

software_kept() {
    [ "$(head -n 1 "$OUT/system/etc/version.cfg")" = "$VERSION" ] && same_tree "$OUT/system/opt" "$OPT"
}

# The archives the job wrote that match their side files and hold the
# device's data.
good_new_backups() {
    for archive in "$(verdict_folder)"/*.tar; do
        [ -f "$archive" ] && ! grep -qxF "${archive##*/}" "$BEFORE" || continue
        if matches_side_file "$archive" \
            && [ "$(archive_manifest "$archive")" = "$(manifest "$DATA")" ]; then
            echo "${archive##*/}"
        fi
    done
}

backup_verdict() {
    newest=$(ls "$(verdict_folder)" 2>/dev/null | sed -n 's/.*-\([0-9]*\)\.tar$/\1 &/p' \
        | sort -n | tail -n 1 | cut -d ' ' -f 2)
    good=$(good_new_backups)
    if [ "$1" != success ]; then
        data_kept || { judged false "/data changed"; return; }
        [ -z "$good" ] || { judged false "$(echo $good) on the medium holds the device's data intact"; return; }
        judged true "/data left as it was; no intact new backup on the medium"
        return
    fi
    [ -n "$newest" ] || { judged false "no archive on the medium"; return; }
    ! grep -qxF "$newest" "$BEFORE" || { judged false "the newest archive, $newest, was there before"; return; }
    matches_side_file "$(verdict_folder)/$newest" \
        || { judged false "$newest does not match its side file"; return; }
    echo "$good" | grep -qxF "$newest" || { judged false "$newest does not hold the device's data"; return; }
    judged true "$newest matches its side file and holds the device's data"
}

restoration_verdict() {
    chosen=$(newest_intact "$(verdict_folder)")
    case $1 in
        success)
            [ -n "$chosen" ] || { judged false "no intact backup of $SNUM on the medium"; return; }
            [ "$(manifest "$OUT/system/data")" = "$(archive_manifest "$(verdict_folder)/$chosen")" ] \
                || { judged false "/data is not what $chosen, the newest intact backup, holds"; return; }
            judged true "/data is what $chosen, the newest intact backup, holds"
            ;;
        none)
            [ -z "$chosen" ] || { judged false "$chosen is an intact backup of $SNUM"; return; }
            data_kept || { judged false "/data changed"; return; }
            judged true "no intact backup of $SNUM on the medium; /data left as it was"
            ;;
        *)
            data_kept || { judged false "/data changed"; return; }
            judged true "/data left as it was"
            ;;
    esac
}

upgrade_verdict() {
    version=$(head -n 1 "$OUT/system/etc/version.cfg")
    packages=$(ls "$OUT/$MEDIUM/run/upgrade" 2>/dev/null | grep '^update-V.*\.tar$' || true)
    case $1 in
        success)
            [ "$version" != "$VERSION" ] && echo "$packages" | grep -qx "update-$version.tar" \
                || { judged false "the version file names $version, no new package's version"; return; }
            judged true "the version file names $version, the version of update-$version.tar"
            ;;
        latest)
            software_kept && echo "$packages" | grep -qx "update-$VERSION.tar" \
                || { judged false "not the device's version $VERSION and software as they were"; return; }
            judged true "update-$VERSION.tar is the version the device runs; software left as it was"
            ;;
        *)
            [ "$1" != no-package ] || [ -z "$packages" ] \
                || { judged false "$(echo $packages) on the medium"; return; }
            software_kept || { judged false "the software changed: the version file names $version"; return; }
            judged true "the version file still names $VERSION and /opt is as it was"
            ;;
    esac
}

# verdict OUT END: whether the end read from the screen (an end's name from
# korvello-pictures) is what the media show.
verdict() {
    OUT=$1
    . "$OUT/run.env"
    "${JOB}_verdict" "$2"
}

# read_note OUT: the end's name, its note and how closely it fits, from
# OUT/screen.png, tab-separated; or "unreadable" and why.
read_note() (
    . "$1/run.env"
    QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 "$NATIVE_BUILD/tools/pictures/korvello-pictures" \
        --read-note "$JOB" "$1/screen.png" "$VERSION" 2> "$1/read-note.log"
)
