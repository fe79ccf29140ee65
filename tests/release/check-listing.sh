#!/usr/bin/env bash
# check-listing.sh <archive> <expected-files.txt> <version>
# The archive holds exactly the files its list names: each listed file (or
# pattern) is there, and nothing else is.
set -uo pipefail
archive=$1 expected=$2 version=$3
name=$(basename "$archive")
want=$(awk -v v="$version" -v n="$name" '
  /^\[.*\]$/ { gsub(/@V@/, v); on = ($0 == "[" n "]"); next }
  on && NF && !/^#/ { gsub(/@V@/, v); print }' "$expected")
[ -n "$want" ] || { echo "FAIL: no list for $name in $expected"; exit 1; }
have=$(cmake -E tar tf "$archive" | grep -v '/$' | LC_ALL=C sort) || { echo "FAIL: cannot read $archive"; exit 1; }
fail=0
dups=$(uniq -d <<<"$have")
[ -z "$dups" ] || { echo "FAIL: $name holds twice: $dups"; fail=1; }
while read -r f; do
  hit=no
  while read -r pattern; do
    # shellcheck disable=SC2053  # the list's lines are patterns
    [[ $f == $pattern ]] && { hit=yes; break; }
  done <<<"$want"
  [ $hit = yes ] || { echo "FAIL: $name holds $f, which is not on its list"; fail=1; }
done <<<"$have"
while read -r pattern; do
  hit=no
  while read -r f; do
    # shellcheck disable=SC2053
    [[ $f == $pattern ]] && { hit=yes; break; }
  done <<<"$have"
  [ $hit = yes ] || { echo "FAIL: $name lacks $pattern"; fail=1; }
done <<<"$want"
[ $fail -eq 0 ] && echo "$name: the $(wc -l <<<"$have") files of its list"
exit $fail
