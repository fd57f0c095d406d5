#!/bin/sh
# Runs a link command with SOURCE_DATE_EPOCH read from the build's time-stamp file: GNU ld then writes that
# time, not the clock, into the PE header and the export directory.
# usage: link_at_source_date.sh TIME_STAMP_FILE COMMAND...
SOURCE_DATE_EPOCH=$(cat "$1") || exit 1
export SOURCE_DATE_EPOCH
shift
exec "$@"
