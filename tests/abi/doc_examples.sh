# The command lines a user copies from the README and the release read-me, for the tests to
# run as written. Sourced by host_end_to_end.sh and package_test.sh.

# markdown_examples FILE: the commands of FILE's fenced blocks, one a line ("CMD <line>"),
# lines ending in \ or | joined to the next; the lines "#   text" right under a command are
# the output the text shows for it ("OUT <text>"). Comments and other blocks' lines are left.
markdown_examples() {
  awk '/^```/ { fence = !fence; command = 0; next }
       !fence { next }
       command && /^#   / { print "OUT " substr($0, 5); next }
       { command = 0 }
       /^#/ || NF == 0 { next }
       { line = line $0; if (/[\\|]$/) { sub(/\\$/, "", line); next } }
       line ~ /^(kvx-host|ffmpeg|ffprobe) / { print "CMD " line; command = 1 }
       { line = "" }' "$1"
}

# readme_txt_examples FILE LANGUAGE: the indented kvx-host.exe lines of the release read-me's
# part headed LANGUAGE (РУССКИЙ, ENGLISH), which a reader follows alone.
readme_txt_examples() {
  tr -d '\r' <"$1" | awk -v part="$2" '/^[^ a-z]+$/ && !/[-=]/ { inside = $0 == part }
    inside && /^  kvx-host\.exe / { print "CMD " substr($0, 3) }'
}

# run_examples HOST PLUGIN: runs the CMD lines of standard input in this folder, one after the
# other as a user would, with "kvx-host" / "kvx-host.exe" meaning the command HOST and
# "KVX_Scaler.dll" the file PLUGIN; a command's OUT lines must be its standard output.
# Prints one line each; returns the number that failed.
run_examples() {
  local host=$1 plugin=$2 failed=0 kind text command="" expected=""
  run_one() {
    [ -n "$command" ] || return 0
    local line got
    line=$(printf '%s' "$command" | sed -e "s#\\(^\\|| *\\)kvx-host\\(\\.exe\\)\\? #\\1$host #g" \
      -e "s#KVX_Scaler\\.dll#$plugin#g")
    if got=$(bash -c "set -o pipefail; $line" </dev/null 2>example-err.txt) &&
       { [ -z "$expected" ] || [ "$got" = "${expected%$'\n'}" ]; }; then
      echo "ok   example runs as written: $command"
    else
      echo "FAIL example runs as written: $command"
      [ -n "$expected" ] && printf '  shown:\n%s\n  printed:\n%s\n' "$expected" "$got"
      sed 's/^/  /' example-err.txt
      failed=$((failed + 1))
    fi
  }
  while IFS=' ' read -r kind text; do
    if [ "$kind" = OUT ]; then expected+="$text"$'\n'; continue; fi
    run_one
    command=$text expected=""
  done
  run_one
  return "$failed"
}
