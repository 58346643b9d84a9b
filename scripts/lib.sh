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
