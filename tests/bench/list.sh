#!/bin/sh
# How much `tuvrek-disk list --json` costs over the lsblk run it wraps: median wall time of batches of
# runs, each program alternately, then the ratio (the aim is at most 1.15).
# Usage: list.sh <build folder> [samples] [runs per sample]
set -eu
build=$1
samples=${2:-11}
runs=${3:-20}
cli=$build/bin/tuvrek-disk
columns=NAME,PATH,TYPE,SIZE,FSTYPE,FSVER,LABEL,PARTLABEL,PARTTYPENAME,UUID,MOUNTPOINTS,MODEL,VENDOR,RM,RO
unset TUVREK_DISK_LSBLK_JSON TUVREK_DISK_MOUNTINFO TUVREK_DISK_RUN_DIR TUVREK_DISK_AUTOMOUNT_CONF

[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 1; }
"$cli" list --json >/dev/null
lsblk --json --bytes --output "$columns" >/dev/null

# Nanoseconds for one batch of the command.
batch() {
  start=$(date +%s%N)
  i=0
  while [ $i -lt "$runs" ]; do
    "$@" >/dev/null
    i=$((i + 1))
  done
  end=$(date +%s%N)
  echo $((end - start))
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
s=0
while [ $s -lt "$samples" ]; do
  batch lsblk --json --bytes --output "$columns" >>"$tmp/lsblk"
  batch "$cli" list --json >>"$tmp/cli"
  s=$((s + 1))
done

lsblk_ns=$(median <"$tmp/lsblk")
cli_ns=$(median <"$tmp/cli")
awk -v l="$lsblk_ns" -v c="$cli_ns" -v n="$runs" 'BEGIN {
  printf "lsblk --json --bytes:  %.2f ms per run (median of batches of %d)\n", l / n / 1e6, n
  printf "tuvrek-disk list --json: %.2f ms per run\n", c / n / 1e6
  printf "ratio: %.3f (aim: <= 1.15)\n", c / l
}'
