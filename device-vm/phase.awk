# The phase of a medium script that a console log shows at its end, from
# the tool's lines (the script's start, its exit code) and the guest's
# "device-vm: state" lines (device-vm/phases). Run with -v kind=backup,
# restoration or upgrade; prints the phase's name, or "none" when the
# script has not started.
#
#   settling   what an earlier cut left is still there, since the start
#   start      before the script's first write (its checks, its digest)
#   writing, syncing, publishing                        (backup)
#   unpacking, marked, swapping                         (restoration)
#   staging, staged, placing, replaced, versioned,
#   undoing (a step back after the change began)        (upgrade)
#   finishing  nothing of its own left half done: the last syncs, the
#              history line
#   ended      the tool has read the script's exit code
function own(state,    words, n, i, out) {
    n = split(state, words, " ")
    out = ""
    for (i = 1; i <= n; i++)
        if (words[i] in marker)
            out = out " " words[i]
    return out == "" ? "idle" : substr(out, 2)
}
function has(state, word) {
    return index(" " state " ", " " word " ") > 0
}
function phase_of(state) {
    if (kind == "backup") {
        if (has(state, "side-alone")) return "publishing"
        if (has(state, "side.part")) return "syncing"
        return "writing"
    }
    if (kind == "restoration") {
        if (has(state, "data.old")) return "swapping"
        if (has(state, "data.ready")) return "marked"
        return "unpacking"
    }
    if (version != start_version) return "versioned"
    # Each target is kept before its new file goes beside it, so kept
    # files alone are still the placing until a new file has been seen.
    if (has(state, "beside") || (has(state, "kept") && highest < rank["placing"]))
        return "placing"
    if (has(state, "kept")) return "replaced"
    if (has(state, "stage.ready")) return "staged"
    return "staging"
}
BEGIN {
    if (kind == "backup") split("archive.part side.part side-alone", words, " ")
    else if (kind == "restoration") split("data.new data.ready data.old", words, " ")
    else split("stage.new stage.ready beside kept", words, " ")
    for (i in words) marker[words[i]] = 1
    split("start staging staged placing replaced versioned", order, " ")
    for (i in order) rank[order[i]] = i
    phase = "none"
    state = "idle"
}
{ sub(/\r$/, "") }
/device-vm: state / {
    line = $0
    sub(/.*device-vm: state /, "", line)
    version = line
    sub(/.* version=/, "", version)
    sub(/ ?version=.*/, "", line)
    state = own(line)
    if (phase == "none" || phase == "ended") next
    if (phase == "settling") {
        if (state == "idle") { phase = "start"; start_version = version }
        next
    }
    if (state == "idle") { phase = wrote ? "finishing" : "start"; next }
    wrote = 1
    next_phase = phase_of(state)
    if (kind == "upgrade" && (next_phase in rank) && rank[next_phase] < highest) {
        phase = "undoing"
        next
    }
    phase = next_phase
    if ((phase in rank) && rank[phase] > highest) highest = rank[phase]
    next
}
/=== +(runBackupSH|runCmdSH) / {
    phase = state == "idle" ? "start" : "settling"
    start_version = version
    wrote = 0
    highest = 0
    next
}
/^Exit Code:/ { if (phase != "none") phase = "ended" }
END { print phase }
