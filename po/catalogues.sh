#!/usr/bin/env bash
# The message catalogues of the text domain gimp20-orvex.
#   bash po/catalogues.sh update   # extracts the template from the sources, merges it into every translation
#   bash po/catalogues.sh check    # fails when the template is stale or a translation is incomplete or invalid
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
po=$root/po
template=$po/gimp20-orvex.pot
mapfile -t languages < <(grep -v -e '^#' -e '^$' "$po/LINGUAS")

# Every translatable text of the plug-in, marked with _() or N_(); references relative to the root.
extract() {
  (cd "$root" && find src -name '*.cpp' -o -name '*.hpp' | LC_ALL=C sort |
    xgettext --files-from=- --output="$1" --language=C++ --from-code=UTF-8 \
      --keyword=_ --keyword=N_ --add-comments=TRANSLATORS: \
      --package-name=orvex --package-version=1.0.0 --copyright-holder="Orvex developers" \
      --msgid-bugs-address=orvex-dev@users.noreply.example.org)
}

# The messages of a catalogue without header and source positions, one line each.
messages() {
  msgcat --no-wrap --no-location --sort-output "$1" | sed '1,/^$/d' | grep -v '^msgstr'
}

msgids() {
  msgcat --no-wrap --no-location --sort-output "$1" | grep '^msgid ' | grep -vx 'msgid ""'
}

update() {
  extract "$template"
  for lang in "${languages[@]}"; do
    msgmerge --quiet --update --backup=none --no-fuzzy-matching "$po/$lang.po" "$template"
  done
  echo "catalogues: $template and ${languages[*]} updated"
}

check() {
  local failed=0 fresh expected
  fresh=$(mktemp --suffix=.pot)
  trap 'rm -f "$fresh"' RETURN
  extract "$fresh"
  if ! diff -u <(messages "$template") <(messages "$fresh"); then
    echo "catalogues: po/gimp20-orvex.pot does not match the sources (- committed, + sources);" \
         "run: bash po/catalogues.sh update" >&2
    failed=1
  fi
  expected=$(msgids "$fresh" | wc -l)
  for lang in "${languages[@]}"; do
    local file=$po/$lang.po stats
    if ! stats=$(msgfmt --check --statistics --output-file=/dev/null "$file" 2>&1); then
      echo "catalogues: $lang.po: msgfmt --check failed: $stats" >&2
      failed=1
      continue
    fi
    if [[ "$stats" != "$expected translated messages." ]]; then
      echo "catalogues: $lang.po: $stats (expected all $expected translated)" >&2
      failed=1
    fi
    if ! diff -u <(msgids "$fresh") <(msgids "$file") >/dev/null; then
      echo "catalogues: $lang.po holds other messages than the sources:" >&2
      diff -u <(msgids "$fresh") <(msgids "$file") >&2 || true
      failed=1
    fi
    grep -q '^"Content-Type: text/plain; charset=UTF-8\\n"$' "$file" ||
      { echo "catalogues: $lang.po is not declared UTF-8" >&2; failed=1; }
    grep -q "^\"Language: $lang\\\\n\"$" "$file" ||
      { echo "catalogues: $lang.po does not declare Language: $lang" >&2; failed=1; }
  done
  ((failed == 0)) && echo "catalogues: template current; ${languages[*]} complete ($expected messages each)"
  return "$failed"
}

case "${1:-}" in
  update) update ;;
  check) check ;;
  *) echo "usage: $0 update|check" >&2; exit 2 ;;
esac
