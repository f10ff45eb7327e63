# Scenario files of the real-shell tests: a volume to prepare, a batch of
# pchflash-sim.efi command lines with the console text and status each must give,
# and checks of the files and the flash afterwards. One scenario is one boot; a
# command that resets the machine ends it and must be the last.
#
#   flash absent|initial   simflash.bin at the start: none (the generated image) or
#                          the generated image written to the volume (the default)
#   file NAME SPEC         a file on the volume; SPEC: bios (the BIOS window of the
#                          flash at the start), bios-changed N (the same, one byte
#                          changed in each of N blocks spread over the window), whole
#                          (the whole flash), empty, bytes N (N bytes of a pattern)
#   dir NAME               a directory on the volume
#   opt [WORDS]            the options file pchflash-sim.opt: before the first run, as
#                          the volume has it at the start; between runs, replaced by
#                          WORDS (the shell copies a prepared file), or removed
#   shell echo TEXT > NAME a line typed into the shell before the next run (the
#                          README's options-file recipe); the host side writes NAME
#                          as the shell's echo does (see shell_echo_to_file)
#   run ARGS               pchflash-sim.efi ARGS, typed as in the shell (quotes, ^)
#   out TEXT               appended to the command's expected console text; escapes
#                          \r \n \\ \xHH (no out line: the command prints nothing)
#   status 0xN|reset       the expected %lasterror%, or a reset of the machine
#   host-refuses OPTION    the options file is bad: on the host, pchflash-sim itself
#                          must refuse the same words with its usage error naming OPTION
#   check same NAME bios|whole        NAME equals the flash's BIOS window (or all of it)
#                                     as it was at the start
#   check flash unchanged             simflash.bin equals the flash at the start
#   check flash-bios NAME             simflash.bin holds NAME in the BIOS window and
#                                     what it held at the start below it
#   check absent NAME                 no such file on the volume afterwards
#   check unchanged NAME              NAME holds what it held at the start
#   # ...                             a comment

SCENARIO_COUNT=0
SCENARIO_FLASH=initial
SCENARIO_START_OPT=''
SCENARIO_HAS_START_OPT=0
declare -a SC_ARGS SC_OUT SC_STATUS SC_OPT SC_OPT_SET SC_REFUSES SC_FILES SC_DIRS SC_CHECKS SC_SHELL

scenario_read() {
  local file=$1 line lineno=0 word rest
  while IFS= read -r line || [[ -n $line ]]; do
    lineno=$((lineno + 1))
    word=${line%% *}
    rest=''
    [[ $line == *' '* ]] && rest=${line#* }
    case $word in
      '' | '#'*) ;;
      flash) SCENARIO_FLASH=$rest ;;
      file) SC_FILES+=("$rest") ;;
      dir) SC_DIRS+=("$rest") ;;
      check) SC_CHECKS+=("$rest") ;;
      opt)
        if ((SCENARIO_COUNT == 0)); then
          SCENARIO_START_OPT=$rest SCENARIO_HAS_START_OPT=1
        else
          SC_OPT[SCENARIO_COUNT + 1]=$rest SC_OPT_SET[SCENARIO_COUNT + 1]=1
        fi
        ;;
      shell) SC_SHELL[SCENARIO_COUNT + 1]=$rest ;;
      run)
        SCENARIO_COUNT=$((SCENARIO_COUNT + 1))
        SC_ARGS[SCENARIO_COUNT]=$rest
        SC_OUT[SCENARIO_COUNT]='' SC_STATUS[SCENARIO_COUNT]='' SC_REFUSES[SCENARIO_COUNT]=''
        ;;
      out | status | host-refuses)
        if ((SCENARIO_COUNT == 0)); then
          echo "$file:$lineno: '$word' before the first 'run'" >&2
          return 1
        fi
        case $word in
          out) SC_OUT[SCENARIO_COUNT]+=$rest ;;
          status) SC_STATUS[SCENARIO_COUNT]=$rest ;;
          host-refuses) SC_REFUSES[SCENARIO_COUNT]=$rest ;;
        esac
        ;;
      *)
        echo "$file:$lineno: cannot read '$line'" >&2
        return 1
        ;;
    esac
  done <"$file"
  local i
  for ((i = 1; i <= SCENARIO_COUNT; i++)); do
    if [[ ! ${SC_STATUS[i]} =~ ^(0x[0-9A-F]+|reset)$ ]]; then
      echo "$file: command $i (${SC_ARGS[i]}) has no 'status 0xN' or 'status reset' line" >&2
      return 1
    fi
    if [[ ${SC_STATUS[i]} == reset ]] && ((i != SCENARIO_COUNT)); then
      echo "$file: command $i resets the machine, so it must be the last" >&2
      return 1
    fi
  done
  ((SCENARIO_COUNT > 0)) || { echo "$file: no commands" >&2; return 1; }
  [[ $SCENARIO_FLASH == initial || $SCENARIO_FLASH == absent ]] ||
    { echo "$file: 'flash $SCENARIO_FLASH': initial or absent" >&2; return 1; }
}

# The arguments the UEFI Shell passes for a typed command line: split at blanks,
# double quotes group and are removed, ^ takes the next character as it is.
# Fills SHELL_ARGV.
shell_split() {
  local line=$1 i c word='' inword=0 quoted=0
  SHELL_ARGV=()
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    if [[ $c == '^' ]] && ((i + 1 < ${#line})); then
      i=$((i + 1))
      word+=${line:i:1} inword=1
    elif [[ $c == '"' ]]; then
      quoted=$((1 - quoted)) inword=1
    elif [[ $c == ' ' || $c == $'\t' ]] && ((quoted == 0)); then
      ((inword)) && SHELL_ARGV+=("$word")
      word='' inword=0
    else
      word+=$c inword=1
    fi
  done
  ((inword)) && SHELL_ARGV+=("$word")
  return 0
}

# The shell's "echo TEXT > NAME" in DIR: the words of TEXT (quotes removed) joined
# by one blank, written as the shell writes a redirected file: UCS-2 with a
# byte-order mark, the line ended by CR LF.
shell_echo_to_file() {
  local line=$1 dir=$2
  [[ $line =~ ^echo\ (.*)\ \>\ ([^ ]+)$ ]] ||
    { echo "shell: only 'echo TEXT > NAME' is modelled: '$line'" >&2; return 1; }
  local name=${BASH_REMATCH[2]}
  shell_split "${BASH_REMATCH[1]}"
  { printf '\xff\xfe'; printf '%s\r\n' "${SHELL_ARGV[*]}" | iconv -f UTF-8 -t UTF-16LE; } >"$dir/$name"
}

# The text of an options file as the host side passes it on: ASCII, or UCS-2 after
# its byte-order mark; without line ends.
options_text() {
  if [[ $(head -c 2 "$1" | od -An -tx1 | tr -d ' \n') == fffe ]]; then
    tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8
  else
    cat "$1"
  fi | tr -d '\r'
}

# Each command framed by marker lines, as the shell's echo prints them:
# "==BEGIN n==\r\n", the output, then "==STATUS <lasterror>==\r\n", or "==RESET==\r\n"
# when the machine reset; "==END==\r\n" after a batch that did not reset.
# "host" frames a command whose options the host refuses as "==REFUSED==".
scenario_expected_transcript() {
  local side=$1 i
  for ((i = 1; i <= SCENARIO_COUNT; i++)); do
    printf '==BEGIN %d==\r\n' "$i"
    if [[ $side == host && -n ${SC_REFUSES[i]} ]]; then
      printf '==REFUSED==\r\n'
      continue
    fi
    printf '%b' "${SC_OUT[i]}"
    if [[ ${SC_STATUS[i]} == reset ]]; then
      printf '==RESET==\r\n'
      return
    fi
    printf '==STATUS %s==\r\n' "${SC_STATUS[i]}"
  done
  printf '==END==\r\n'
}

# Blocks changed by "bios-changed N": spread from the first to the last block.
changed_blocks() {
  local count=$1 blocks=128 k
  for ((k = 0; k < count; k++)); do
    if ((count == 1)); then echo 0; else echo $((k * (blocks - 1) / (count - 1))); fi
  done
}

# make_file PATH SPEC INITIAL_FLASH
make_file() {
  local path=$1 content=$2 flash=$3
  case $content in
    bios) tail -c 8388608 "$flash" >"$path" ;;
    whole) cp "$flash" "$path" ;;
    empty) : >"$path" ;;
    'bytes '*)
      # A pattern that no flash holds: the offset's low bytes.
      head -c "${content#bytes }" /dev/zero | tr '\0' '\125' >"$path"
      ;;
    'bios-changed '*)
      tail -c 8388608 "$flash" >"$path"
      local block offset byte
      for block in $(changed_blocks "${content#bios-changed }"); do
        offset=$((block * 65536 + 0x1234))
        byte=$(od -An -tu1 -j "$offset" -N1 "$path" | tr -d ' ')
        printf "\\x$(printf %02x $((255 - byte)))" |
          dd of="$path" bs=1 seek="$offset" conv=notrunc status=none
      done
      ;;
    *)
      echo "file: unknown content '$content'" >&2
      return 1
      ;;
  esac
}

# scenario_stage DIR INITIAL_FLASH: the volume at the start, without the programs.
scenario_stage() {
  local dir=$1 flash=$2 entry i
  mkdir -p "$dir"
  for entry in "${SC_DIRS[@]}"; do mkdir -p "$dir/$entry"; done
  for entry in "${SC_FILES[@]}"; do
    make_file "$dir/${entry%% *}" "${entry#* }" "$flash" || return 1
  done
  if [[ $SCENARIO_FLASH == initial ]]; then cp "$flash" "$dir/simflash.bin"; fi
  if ((SCENARIO_HAS_START_OPT)); then
    printf '%s\r\n' "$SCENARIO_START_OPT" >"$dir/pchflash-sim.opt"
  fi
  for ((i = 1; i <= SCENARIO_COUNT; i++)); do
    if [[ -n ${SC_OPT_SET[i]:-} && -n ${SC_OPT[i]} ]]; then
      printf '%s\r\n' "${SC_OPT[i]}" >"$dir/options-$i.txt"
    fi
  done
}

# scenario_checks VOLUME START_VOLUME INITIAL_FLASH SIDE: the checks of the file.
scenario_checks() {
  local volume=$1 start=$2 flash=$3 side=$4 check failed=0 name what
  for check in "${SC_CHECKS[@]}"; do
    shell_split "$check"
    set -- "${SHELL_ARGV[@]}"
    case $1 in
      same)
        name=$2 what=$3
        if [[ $what == bios ]]; then
          tail -c 8388608 "$flash" | cmp -s - "$volume/$name" || {
            echo "$side: $name is not the BIOS window of the flash at the start" >&2
            failed=1
          }
        else
          cmp -s "$flash" "$volume/$name" || {
            echo "$side: $name is not the whole flash at the start" >&2
            failed=1
          }
        fi
        ;;
      flash)
        cmp -s "$flash" "$volume/simflash.bin" || {
          echo "$side: simflash.bin changed" >&2
          failed=1
        }
        ;;
      flash-bios)
        name=$2
        if ! tail -c 8388608 "$volume/simflash.bin" | cmp -s - "$start/$name" ||
          ! cmp -s -n $(($(stat -c %s "$flash") - 8388608)) "$flash" "$volume/simflash.bin"; then
          echo "$side: simflash.bin does not hold $name in the BIOS window and the rest as before" >&2
          failed=1
        fi
        ;;
      absent)
        if [[ -e $volume/$2 ]]; then
          echo "$side: '$2' exists on the volume" >&2
          failed=1
        fi
        ;;
      unchanged)
        cmp -s "$start/$2" "$volume/$2" || {
          echo "$side: '$2' changed" >&2
          failed=1
        }
        ;;
      *)
        echo "unknown check '$check'" >&2
        failed=1
        ;;
    esac
  done
  return $failed
}

# Compares two transcripts byte for byte; on a difference shows both with the
# control characters visible.
scenario_compare() {
  local expected=$1 actual=$2 what=$3
  if cmp -s "$expected" "$actual"; then
    echo "$what: all $SCENARIO_COUNT command lines gave the expected console text and status"
    return 0
  fi
  echo "$what: the console transcript differs from the expectations (^M is CR, \$ is LF):" >&2
  diff -u <(cat -A "$expected") <(cat -A "$actual") | sed 's/^/  /' >&2 || true
  return 1
}
