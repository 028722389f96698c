#!/usr/bin/env bash
# Every link and picture in the help pages resolves to a file (and to an id on that page when it
# names one), no page links out of the help or runs scripts, and every page is reachable from the
# index. Checked in the build folder (where Help opens them from) and in an installed prefix.
# Usage: help_links.sh BUILD_DIR BUILD_HELP_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null

problems=0
problem() {
    echo "  $*"
    problems=$((problems + 1))
}

check_folder() {
    local folder=$1 page target file anchor
    echo "checking $folder"
    for page in index.html waketimers.html style.css; do
        [ -f "$folder/$page" ] || problem "missing $page (the program opens it)"
    done
    for page in "$folder"/*.html; do
        grep -qi '<script' "$page" && problem "$(basename "$page"): has a script"
        grep -q '<link rel="stylesheet" href="style.css">' "$page" || problem "$(basename "$page"): no style sheet"
        # Every href="..." and src="..." of the page.
        while IFS= read -r target; do
            case $target in
                *:*) problem "$(basename "$page"): link out of the help: $target"; continue ;;
            esac
            file=${target%%#*}
            anchor=
            [[ $target == *#* ]] && anchor=${target#*#}
            [ -z "$file" ] && file=$(basename "$page")
            if [ ! -f "$folder/$file" ]; then
                problem "$(basename "$page"): broken link: $target"
            elif [ -n "$anchor" ] && ! grep -q "id=\"$anchor\"" "$folder/$file"; then
                problem "$(basename "$page"): no id \"$anchor\" in $file"
            fi
        done < <(grep -o -E '(href|src)="[^"]*"' "$page" | sed -E 's/^(href|src)="//; s/"$//')
        grep -q "href=\"$(basename "$page")\"" "$folder/index.html" || problem "$(basename "$page") is not linked from index.html"
    done
}

check_folder "$2"
check_folder "$work/prefix/share/larkbell/help"
[ "$problems" -eq 0 ] || fail "$problems problems in the help pages"
echo "1 passed, 0 failed"
