#!/usr/bin/env bash
# Prints the URI of the Debian archive this machine's apt uses for its own
# release (not the -updates or -security suites), read from the deb822
# files in /etc/apt/sources.list.d and the one-line sources.list format.
#
#   scripts/host-mirror.sh [CODENAME]
set -euo pipefail

codename=${1:-$(. /etc/os-release && echo "${VERSION_CODENAME:?}")}

uri=$(
  {
    for file in /etc/apt/sources.list.d/*.sources; do
      [[ -f $file ]] || continue
      # One stanza per paragraph: keep the first URI of an enabled deb
      # stanza whose suites include the release itself.
      awk -v want="$codename" '
        function flush() {
          if (types ~ /(^| )deb( |$)/ && enabled != "no" && (" " suites " ") ~ (" " want " ") && uris != "") {
            split(uris, list, " "); print list[1]
          }
          types = ""; suites = ""; uris = ""; enabled = ""
        }
        /^[[:space:]]*#/ { next }
        /^[[:space:]]*$/ { flush(); next }
        {
          key = tolower($1); sub(/:$/, "", key)
          value = $0; sub(/^[^:]*:[[:space:]]*/, "", value)
          if (key == "types") types = value
          else if (key == "suites") suites = value
          else if (key == "uris") uris = value
          else if (key == "enabled") enabled = tolower(value)
        }
        END { flush() }
      ' "$file"
    done
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -f $file ]] || continue
      # deb [options] URI SUITE COMPONENT...
      sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$file" |
        awk -v want="$codename" '$1 == "deb" && $3 == want { print $2 }'
    done
  } | head -n 1
)

if [[ -z $uri ]]; then
  echo "$0: no apt source for '$codename' in /etc/apt" >&2
  exit 1
fi
echo "${uri%/}"
