# Shared by the QEMU and pchflash-sim batch runners: reads the expectations file
# into BATCH_ARGS/BATCH_OUT/BATCH_STATUS/BATCH_ABSENT (1-based) and writes the
# transcript both runs must produce.

BATCH_COUNT=0
declare -a BATCH_ARGS BATCH_OUT BATCH_STATUS BATCH_ABSENT

batch_read() {
  local file=$1 line lineno=0
  while IFS= read -r line || [[ -n $line ]]; do
    lineno=$((lineno + 1))
    case $line in
      '' | '#'*) ;;
      run | 'run '*)
        BATCH_COUNT=$((BATCH_COUNT + 1))
        BATCH_ARGS[BATCH_COUNT]=${line#run}
        BATCH_ARGS[BATCH_COUNT]=${BATCH_ARGS[BATCH_COUNT]# }
        BATCH_OUT[BATCH_COUNT]=''
        BATCH_STATUS[BATCH_COUNT]=''
        BATCH_ABSENT[BATCH_COUNT]=''
        ;;
      'out '* | 'status '* | 'absent '*)
        if ((BATCH_COUNT == 0)); then
          echo "$file:$lineno: '${line%% *}' before the first 'run'" >&2
          return 1
        fi
        case $line in
          'out '*) BATCH_OUT[BATCH_COUNT]+=${line#out } ;;
          'status '*) BATCH_STATUS[BATCH_COUNT]=${line#status } ;;
          'absent '*) BATCH_ABSENT[BATCH_COUNT]+="${line#absent } " ;;
        esac
        ;;
      *)
        echo "$file:$lineno: cannot read '$line'" >&2
        return 1
        ;;
    esac
  done <"$file"
  local i
  for ((i = 1; i <= BATCH_COUNT; i++)); do
    if [[ ! ${BATCH_STATUS[i]} =~ ^0x[0-9A-F]+$ ]]; then
      echo "$file: command $i (${BATCH_ARGS[i]}) has no 'status 0xN' line" >&2
      return 1
    fi
  done
  ((BATCH_COUNT > 0)) || { echo "$file: no commands" >&2; return 1; }
}

# Each command's output framed by marker lines, exactly as the shell's echo prints
# them: "==BEGIN n==\r\n", the output, "==STATUS <lasterror>==\r\n"; "==END==\r\n" last.
batch_expected_transcript() {
  local i
  for ((i = 1; i <= BATCH_COUNT; i++)); do
    printf '==BEGIN %d==\r\n' "$i"
    printf '%b' "${BATCH_OUT[i]}"
    printf '==STATUS %s==\r\n' "${BATCH_STATUS[i]}"
  done
  printf '==END==\r\n'
}

# Compares two transcripts byte for byte; on a difference shows both with the
# control characters visible.
batch_compare() {
  local expected=$1 actual=$2 what=$3
  if cmp -s "$expected" "$actual"; then
    echo "$what: all $BATCH_COUNT command lines gave the expected console text and status"
    return 0
  fi
  echo "$what: the console transcript differs from the expectations (^M is CR, \$ is LF):" >&2
  diff -u <(cat -A "$expected") <(cat -A "$actual") | sed 's/^/  /' >&2 || true
  return 1
}
