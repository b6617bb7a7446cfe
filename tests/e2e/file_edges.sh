#!/usr/bin/env bash
# setup|cleanup <dir>: for the output file's tests, beside the programs, a folder that takes no new
# file but holds a writable one (chattr +i binds root too, on ext2/3/4; not on tmpfs), a folder
# whose output.txt is a symbolic link to other-name.txt, one where that link names no file, one
# whose output.txt has Output.txt beside it (a case-sensitive file system), and one whose output.txt
# is bound there by a mount (it cannot be renamed). Where this host cannot make one, its test skips.
# cleanup undoes the chattr and the mount, whatever setup did.
set -u
frozen=$2/frozen-folder linked=$2/linked-folder dangling=$2/dangling-folder twin=$2/twin-folder
bound=$2/bound-folder
chattr -i "$frozen" 2>/dev/null
mountpoint -q "$bound/output.txt" && umount "$bound/output.txt"
rm -rf "$frozen" "$linked" "$dangling" "$twin" "$bound" "$2/bound-output.txt"
if [ "$1" = setup ]; then
  mkdir -p "$frozen" "$linked" "$dangling" "$twin" && : >"$frozen/output.txt" && : >"$linked/other-name.txt" &&
    ln -s other-name.txt "$linked/output.txt" && ln -s other-name.txt "$dangling/output.txt"
  : >"$twin/output.txt" && echo twin >"$twin/Output.txt" && [ "$(cat "$twin/output.txt")" = "" ] ||
    { rm -rf "$twin"; echo "file_edges: no two names differing in case at $twin; the test that needs it skips"; }
  mkdir -p "$bound" && : >"$bound/output.txt" && : >"$2/bound-output.txt" &&
    mount --bind "$2/bound-output.txt" "$bound/output.txt" 2>/dev/null ||
    { rm -rf "$bound"; echo "file_edges: could not bind a file at $bound; the test that needs it skips"; }
  chattr +i "$frozen" 2>/dev/null ||
    { rm -rf "$frozen"; echo "file_edges: chattr +i failed at $frozen; the test that needs it skips"; }
fi
exit 0
