# Sourced by the scripts that drive Lumora's windows under Xvfb.

# Prints the id of the newest window whose title matches the pattern $1,
# waiting for it up to 30 s; fails when none comes.
window() {
    for _ in $(seq 1 150); do
        local id
        id=$(xdotool search --name "$1" 2>/dev/null | tail -1 || true)
        [[ -n $id ]] && { echo "$id"; return 0; }
        sleep 0.2
    done
    echo "no window '$1'" >&2
    return 1
}
