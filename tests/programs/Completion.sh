#!/usr/bin/env bash
# The bash completion of dorvik-cli, driven as bash drives it: usage: Completion.sh SCRIPT CLI
set -o pipefail # not -e or -u: completions run in an interactive shell, without them
source "$1"
cli=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir backups
touch cards.tdb OLD.TDB names.csv notes.txt access.db agent.conf
export DORVIK_EXTRA_PORTS=ttyFAKE7:/dev/pts/77:tcp://door-pc:4002

failures=0
expect() { # <expected, sorted and space-separated> <words...>: completes the last word
    COMP_WORDS=("$cli" "${@:2}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _dorvik_cli "$cli" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | grep -v '^$' | sort | tr '\n' ' ' | sed 's/ $//')
    if [ "$got" != "$1" ]; then
        echo "FAIL: dorvik-cli ${*:2}: expected '$1', got '$got'"
        failures=$((failures + 1))
    fi
}

expect "diff door" d
expect "watch web-user write" w
expect "add" web-user a
expect "admin" web-user add dana --role a
expect "write" wr
expect "--help --version" --
expect "/dev/pts/77 tcp://door-pc:4002 ttyFAKE7" read ""
expect "/dev/pts/77 tcp://door-pc:4002 ttyFAKE7" door --timeout 3 ""
expect "OLD.TDB backups cards.tdb" sync ""
expect "/dev/pts/77 tcp://door-pc:4002 ttyFAKE7" sync cards.tdb ttyFAKE7 ""
expect "/dev/pts/77 tcp://door-pc:4002 ttyFAKE7" diff --format json ""
expect "OLD.TDB backups cards.tdb" diff ttyUSB0 ""
expect "json table" sync --format ""
expect "OLD.TDB backups cards.tdb" write ttyUSB0 ""
expect "OLD.TDB backups cards.tdb" read ttyUSB0 -o ""
expect "backups names.csv" import ""
expect "backups names.csv" export cards.tdb -o ""
expect "momentary" door ttyUSB0 --mode m
expect "--verify" write ttyUSB0 --v
expect "" show cards.tdb ""
expect "log" l
expect "--card" log --since 2h --ca
expect "csv json table" log --format ""
expect "access.db backups" log --db ""
expect "access" a
expect "check plan" access ""
expect "OLD.TDB backups cards.tdb names.csv" access check ""
expect "--at --config --days --door --format --help" access plan names.csv --
expect "agent.conf backups" access check names.csv --config ""
expect "json table" access check names.csv --format ""
expect "" access plan names.csv --config agent.conf --days 3 ""
[ $failures -eq 0 ]
