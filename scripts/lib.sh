# Shared by the scripts: the project root and a package installer.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# kv_install_packages NAME...: installs those of the named Debian packages that are missing,
# refreshing the package lists first when there is something to install.
kv_install_packages() {
    local missing=() p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}" >&2
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >&2
}

# The packages listed in scripts/packages.txt.
kv_project_packages() {
    grep -v '^\s*#' "$root/scripts/packages.txt" | grep -v '^\s*$'
}

# The project's C++ sources and headers, relative to the root.
kv_cpp_files() {
    local dirs=() d
    for d in src tools tests bench fuzz; do
        [ -d "$root/$d" ] && dirs+=("$d")
    done
    (cd "$root" && find "${dirs[@]}" \( -name '*.cpp' -o -name '*.hpp' \) | sort)
}

# kv_wallpapers: fetches KDE Plasma's wallpaper photographs (the Debian package, unpacked, not
# installed) into build-robustness/ once, and prints the folder that holds them. The studies of
# how vision recognises real pictures use them as card art.
kv_wallpapers() {
    local work="$root/build-robustness"
    local wallpapers="$work/unpacked/usr/share/wallpapers"
    if [ ! -d "$wallpapers" ]; then
        mkdir -p "$work"
        rm -f "$work"/plasma-workspace-wallpapers_*.deb
        if ! (cd "$work" && apt-get download plasma-workspace-wallpapers >&2); then
            local sudo=()
            [ "$(id -u)" -ne 0 ] && sudo=(sudo)
            "${sudo[@]}" apt-get update -qq >&2
            (cd "$work" && apt-get download plasma-workspace-wallpapers >&2)
        fi
        rm -rf "$work/unpacked"
        dpkg-deb -x "$work"/plasma-workspace-wallpapers_*.deb "$work/unpacked"
    fi
    echo "$wallpapers"
}

# kv_start_service WORK_DIR BIN_DIR [ARGUMENTS...]: starts korvane-service on a free loopback
# port, its output in WORK_DIR/service.log, and prints its address once it listens. Called in a
# command substitution (a subshell), it leaves the pids to stop afterwards in
# WORK_DIR/service.pids.
kv_start_service() {
    local work=$1 bin=$2
    shift 2
    mkfifo "$work/service-out"
    "$bin/korvane-service" --listen 127.0.0.1:0 "$@" >"$work/service-out" 2>"$work/service.log" &
    echo $! >>"$work/service.pids"
    local line
    while IFS= read -r line; do
        echo "$line" >>"$work/service.log"
        if [[ "$line" =~ listening\ on\ (http://127\.0\.0\.1:[0-9]+) ]]; then
            echo "${BASH_REMATCH[1]}"
            # Keep draining what it says, so a full pipe never stops it.
            cat >>"$work/service.log" &
            echo $! >>"$work/service.pids"
            return 0
        fi
    done <"$work/service-out"
    echo "korvane-service did not start:" >&2
    cat "$work/service.log" >&2
    return 1
}

# kv_demo_sign_in WORK_DIR BASE DATA_HOME: signs the demo account of the service at BASE in
# (started with --demo, its output in WORK_DIR/service.log) and stores the sign-in in
# DATA_HOME/Korvane/auth.json, as the program would after the sign-in window. Prints the e-mail.
kv_demo_sign_in() {
    local work=$1 base=$2 data=$3 email password answer token
    read -r email password < <(sed -n 's/^Demo account: \([^,]*\), password \(.*\)$/\1 \2/p' \
        "$work/service.log")
    answer=$(curl -sS --fail-with-body -H 'Content-Type: application/json' \
        -d "{\"email\":\"$email\",\"password\":\"$password\",\"device\":\"Korvane demo\"}" \
        "$base/api/auth/login") || { echo "the demo account could not sign in: $answer" >&2; return 1; }
    token=$(sed -n 's/.*"token":"\([^"]*\)".*/\1/p' <<<"$answer")
    [ -n "$token" ] || { echo "the demo account could not sign in: $answer" >&2; return 1; }
    mkdir -p "$data/Korvane"
    printf '{"token":"%s","email":"%s"}\n' "$token" "$email" >"$data/Korvane/auth.json"
    echo "$email"
}

# kv_xvfb WORK_DIR: starts Xvfb (1920 × 1080) on a free display, waits for it and prints the
# display's name; its pid is written to WORK_DIR/xvfb.pid.
kv_xvfb() {
    local work=$1
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
    echo $! >"$work/xvfb.pid"
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; return 1; }
    echo ":$(head -n1 "$work/display")"
}
