#!/usr/bin/env bash
# setup|cleanup <dir>: for the output file's tests, beside the programs, a folder that takes no new
# file but holds a writable one (chattr +i binds root too, on ext2/3/4; not on tmpfs), and a folder
# whose output.txt is a symbolic link to other-name.txt. Where this host cannot make one, its test
# skips. cleanup undoes the chattr, whatever setup did.
set -u
frozen=$2/frozen-folder linked=$2/linked-folder
chattr -i "$frozen" 2>/dev/null
rm -rf "$frozen" "$linked"
if [ "$1" = setup ]; then
  mkdir -p "$frozen" "$linked" && : >"$frozen/output.txt" && : >"$linked/other-name.txt" &&
    ln -s other-name.txt "$linked/output.txt"
  chattr +i "$frozen" 2>/dev/null ||
    { rm -rf "$frozen"; echo "file_edges: chattr +i failed at $frozen; the test that needs it skips"; }
fi
exit 0
