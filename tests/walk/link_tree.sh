#!/usr/bin/env bash
# Makes, or removes, folder trees whose Unix symbolic links lead back into them or to one folder twice,
# for the walk's tests (Wine's CreateSymbolicLinkW makes nothing, so the links are made out here).
# usage: link_tree.sh make|remove FOLDER
# FOLDER gets one tree per test program: recorded/ and converted/, each holding root/ and elsewhere/.
set -euo pipefail
action=$1
folder=${2:?usage: link_tree.sh make|remove FOLDER}
rm -rf "$folder"
[ "$action" = remove ] && exit 0

for copy in recorded converted; do
    base=$folder/$copy
    mkdir -p "$base/root/sub/deeper" "$base/elsewhere"
    for file in root/a.txt root/sub/b.txt root/sub/deeper/c.txt elsewhere/d.txt; do
        printf '\xd6\xd0\xce\xc4 abc\r\n' >"$base/$file"  # "中文 abc" CR LF in GB2312
    done
    ln -s .. "$base/root/sub/up"                  # back to the walk's starting folder
    ln -s ../.. "$base/root/sub/deeper/top"       # two levels up
    ln -s . "$base/root/sub/deeper/self"          # the folder itself
    ln -s sub "$base/root/again"                  # a second way into a folder of the tree
    ln -s "$base/elsewhere" "$base/root/outside"  # a folder outside the tree, by absolute path
    ln -s ../elsewhere "$base/root/outside2"      # ... and again, by relative path
    ln -s ../missing "$base/root/dangling"
done
