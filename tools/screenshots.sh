#!/usr/bin/env bash
# Takes the README's pictures: builds Brisolta, starts a copy with a few made-up contacts on a virtual screen,
# clicks through it and saves docs/main-window.png, docs/find-dialog.png, docs/contact-menu.png, docs/list-menu.png
# and docs/sync-dialog.png.
# For people, not for CI. Usage: tools/screenshots.sh [build dir] (default build/, set up by tools/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --inside ]; then
    # Second half, run by xvfb-run: no window manager, so a window's client area starts at its top-left corner.
    work=$2
    docs=$3
    "$work/Brisolta" >"$work/program.log" 2>&1 &
    program=$!
    trap 'kill "$program" 2>/dev/null || true' EXIT

    windowBox() { # prints "width x height + x + y" of the first visible window named $1
        local id
        id=$(xdotool search --sync --onlyvisible --name "$1" | head -n 1)
        eval "$(xdotool getwindowgeometry --shell "$id")"
        # shellcheck disable=SC2153 # X, Y, WIDTH and HEIGHT come from xdotool
        echo "${WIDTH}x${HEIGHT}+${X}+${Y}"
    }
    shoot() { # crops the whole screen to the box $2 and saves it as $1
        sleep 1
        import -window root -crop "$2" +repage "$docs/$1"
        echo "Saved docs/$1 ($2)"
    }

    main=$(windowBox "Rubrica Brisolta")
    IFS='x+' read -r width height left top <<<"$main"
    shoot main-window.png "$main"

    # Ricerca: (328,96)-(401,119) in the client area. The find dialog opens centred, inside the main window.
    xdotool mousemove $((left + 364)) $((top + 107)) click 1
    windowBox "Trova..." >/dev/null
    shoot find-dialog.png "$main"
    # Chiudi: (104,64)-(177,87) in the dialog.
    IFS='x+' read -r _ _ findLeft findTop <<<"$(windowBox "Trova...")"
    xdotool mousemove $((findLeft + 140)) $((findTop + 75)) click 1
    for _ in $(seq 25); do xdotool search --onlyvisible --name "Trova..." >/dev/null || break; sleep 0.2; done
    kill -0 "$program" 2>/dev/null || { echo "Brisolta ended when the find dialog closed" >&2; exit 1; }

    # The window with the open menu, which may reach below it: the menu is the visible window that is neither the
    # main window nor the screen's root.
    shootWithMenu() {
        local right=$((left + width)) bottom=$((top + height))
        for id in $(xdotool search --onlyvisible --name '.*' 2>/dev/null); do
            eval "$(xdotool getwindowgeometry --shell "$id")"
            [ "$WIDTH" -lt 1024 ] || continue
            right=$((X + WIDTH > right ? X + WIDTH : right))
            bottom=$((Y + HEIGHT > bottom ? Y + HEIGHT : bottom))
        done
        shoot "$1" "$((right - left))x$((bottom - top))+${left}+${top}"
    }
    # Contattami: (240,352)-(313,375). The menu opens at the button's corner and may reach below the window.
    xdotool mousemove $((left + 276)) $((top + 363)) click 1
    sleep 1
    shootWithMenu contact-menu.png
    xdotool key Escape
    # The list's own menu: a right click on its second row, (16,136) being the list's corner and a row 20 high.
    sleep 0.5
    xdotool mousemove $((left + 60)) $((top + 136 + 50)) click 3
    sleep 1
    shootWithMenu list-menu.png
    xdotool key Escape

    # The menu's last item, Sincronizzazione…, opens the sync dialog, centred on the screen, the server field focused.
    sleep 0.5
    xdotool mousemove $((left + 60)) $((top + 136 + 50)) click 3
    sleep 1
    xdotool key Up Return
    sync=$(windowBox "Sincronizzazione")
    xdotool type --delay 20 "https://dav.example.org/"
    xdotool key Tab
    xdotool type --delay 20 "giulia"
    xdotool key Tab
    xdotool type --delay 20 "password"
    shoot sync-dialog.png "$sync"
    xdotool key Escape
    exit 0
fi

build=${1:-build}
if [ "$build" = build ]; then
    tools/setup.sh xvfb xdotool imagemagick sqlite3
else
    cmake --build "$build" --target Brisolta
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/app/Brisolta" "$work/"
sqlite3 "$work/archivio.mdb" <<'SQL'
CREATE TABLE Rubrica (Nome TEXT, Cognome TEXT, Telefono TEXT, Cellulare TEXT, Fax TEXT, Email TEXT);
INSERT INTO Rubrica VALUES ('Giulia', 'Bianchi', '02 1234567', '333 1234567', '', 'giulia.bianchi@example.it');
INSERT INTO Rubrica VALUES ('Marco', 'Rossi', '06 7654321', '347 7654321', '06 7654322', 'marco.rossi@example.it');
INSERT INTO Rubrica VALUES ('Chiara', 'Esposito', '081 555012', '', '', 'chiara.esposito@example.it');
INSERT INTO Rubrica VALUES ('Luca', 'Ferrari', '011 4455667', '328 9988776', '', 'luca.ferrari@example.it');
INSERT INTO Rubrica VALUES ('Sara', 'Colombo', '', '340 1122334', '', 'sara.colombo@example.it');
SQL

mkdir -p docs
xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$work" "$PWD/docs"
