#!/usr/bin/env bash
# Measures how many deliberate faults the test suite catches. Each fault (a
# "mutant" in scripts/mutants.txt) is one exact text replacement in one source
# file. For each, a scratch copy of the tree gets the replacement, is built
# incrementally (one build folder for all, through ccache) and runs the suite;
# the fault is caught when a test that passes on the unchanged tree fails.
#
# Output, one line per mutant: caught|missed|stale|nobuild ID DESCRIPTION [tests]
# ("stale": the old text is no longer in the file, or is there more than once).
# Run it at low priority: nice -n 19 scripts/mutants.sh
set -euo pipefail
shopt -u patsub_replacement 2>/dev/null || true # "&" in a replacement stays "&"

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data=$root/scripts/mutants.txt
dir=$root/build/mutants
rev=HEAD
tests=
timeout=300
jobs=2
baseline=1
first=0
list=0
tmp=
ids=()

usage() {
    cat <<'EOF'
Usage: scripts/mutants.sh [options] [ID...]
  --list          list the mutants (state against this tree, id, file, description)
  --tests REGEX   run only the tests matching REGEX (default: the whole suite)
  --rev REV       the commit to mutate (default HEAD)
  --dir DIR       scratch folder: source copy, build, logs (default build/mutants)
  --timeout S     per-test timeout in seconds (default 300)
  --tmp DIR       the tests' TMPDIR (default a folder in /dev/shm when there is one)
  --no-baseline   skip the run of the unchanged tree (every test then counts)
  --first         stop a mutant's run at its first failing test (faster; names fewer tests)
  -j N, -jN       build and test jobs (default 2)
With IDs, only those mutants run.
EOF
}

while (($#)); do
    case $1 in
    --list) list=1 ;;
    --tests) tests=$2; shift ;;
    --rev) rev=$2; shift ;;
    --dir) dir=$2; shift ;;
    --timeout) timeout=$2; shift ;;
    --tmp) tmp=$2; shift ;;
    --no-baseline) baseline=0 ;;
    --first) first=1 ;;
    -j) jobs=$2; shift ;;
    -j[0-9]*) jobs=${1#-j} ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
    *) ids+=("$1") ;;
    esac
    shift
done

# --- The mutant list ---------------------------------------------------------
# Blocks of: "[id] file", a one-line description, "<<<", old lines, "===", new
# lines, ">>>". Lines starting with "#" outside a block are comments.
m_id=() m_file=() m_what=() m_old=() m_new=()
parse() {
    local line state=out id= file= what= n=0 IFS=$'\n'
    local -a old=() new=()
    while IFS= read -r line || [[ -n $line ]]; do
        ((++n))
        case $state in
        out)
            [[ -z $line || $line == \#* ]] && continue
            if [[ $line =~ ^\[([A-Za-z0-9_-]+)\]\ +(.+)$ ]]; then
                id=${BASH_REMATCH[1]} file=${BASH_REMATCH[2]} state=what
            else
                echo "$data:$n: expected [id] file" >&2; exit 2
            fi ;;
        what) what=$line state=open ;;
        open)
            [[ $line == '<<<' ]] || { echo "$data:$n: expected <<<" >&2; exit 2; }
            old=() new=() state=old ;;
        old) if [[ $line == '===' ]]; then state=new; else old+=("$line"); fi ;;
        new)
            if [[ $line == '>>>' ]]; then
                ((${#old[@]})) || { echo "$data:$n: $id has no old text" >&2; exit 2; }
                m_id+=("$id") m_file+=("$file") m_what+=("$what")
                m_old+=("${old[*]}") m_new+=("${new[*]}")
                state=out
            else
                new+=("$line")
            fi ;;
        esac
    done <"$data"
    [[ $state == out ]] || { echo "$data: the last block is not closed" >&2; exit 2; }
}
parse

# A file's text into REPLY, trailing line ends included.
read_file() { local c; c=$(cat "$1"; printf x); REPLY=${c%x}; }

# 0 applies, 1 not found, 2 found more than once.
occurs() {
    local content=$1 old=$2 rest
    rest=${content#*"$old"}
    [[ $rest == "$content" ]] && return 1
    [[ $rest == *"$old"* ]] && return 2
    return 0
}

if ((list)); then
    for i in "${!m_id[@]}"; do
        state=ok
        f=$root/${m_file[i]}
        if [[ ! -f $f ]]; then state=stale
        else read_file "$f"; occurs "$REPLY" "${m_old[i]}" || state=stale; fi
        printf '%-6s %-26s %-44s %s\n' "$state" "${m_id[i]}" "${m_file[i]}" "${m_what[i]}"
    done
    exit 0
fi

selected=()
if ((${#ids[@]})); then
    for want in "${ids[@]}"; do
        found=
        for i in "${!m_id[@]}"; do [[ ${m_id[i]} == "$want" ]] && found=$i; done
        [[ -n $found ]] || { echo "no mutant $want (see --list)" >&2; exit 2; }
        selected+=("$found")
    done
else
    selected=("${!m_id[@]}")
fi

# --- The scratch tree ----------------------------------------------------------
commit=$(git -C "$root" rev-parse --verify "$rev^{commit}")
src=$dir/src build=$dir/build logs=$dir/logs
mkdir -p "$dir" "$logs"

restore() {
    if [[ -f $dir/current ]]; then
        # A copy, not a move: the file gets a new time, so the next build sees it.
        cat "$dir/original" >"$src/$(cat "$dir/current")"
        rm -f "$dir/current" "$dir/original"
    fi
}
restore # a run that was killed mid-mutant
trap 'restore' EXIT
trap 'exit 130' INT TERM

# Files get the time of extraction (tar -m): an older time than the objects
# built from a previous state would hide a change from the build.
if [[ ! -f $dir/src.rev ]] || ! git -C "$root" cat-file -e "$(cat "$dir/src.rev")^{commit}" 2>/dev/null; then
    rm -rf "$src"
    mkdir -p "$src"
    git -C "$root" archive "$commit" | tar -xm -C "$src"
elif [[ $(cat "$dir/src.rev") != "$commit" ]]; then
    old=$(cat "$dir/src.rev")
    changed=()
    while IFS= read -r -d '' p; do
        if git -C "$root" cat-file -e "$commit:$p" 2>/dev/null; then changed+=("$p")
        else rm -f "$src/$p"; fi
    done < <(git -C "$root" diff -z --name-only --no-renames "$old" "$commit")
    if ((${#changed[@]})); then
        git -C "$root" archive "$commit" -- "${changed[@]}" | tar -xm -C "$src"
    fi
fi
echo "$commit" >"$dir/src.rev"

export CCACHE_BASEDIR=$dir
if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEGA_BUILD_BENCH=OFF \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$logs/configure.log" 2>&1 ||
        { echo "configure failed: $logs/configure.log" >&2; exit 1; }
fi

# The tests write many small files and sync them: in memory they run several
# times faster, and what they check does not change.
if [[ -z $tmp ]]; then
    if [[ -d /dev/shm && -w /dev/shm ]]; then tmp=$(mktemp -d /dev/shm/vega-mutants.XXXXXX)
    else tmp=$(mktemp -d); fi
    trap 'restore; rm -rf "$tmp"' EXIT
fi

build_tree() { cmake --build "$build" -j "$jobs" >"$1" 2>&1; }

# Prints the names of the failing tests; the log goes to $1.
run_tests() {
    local args=(--test-dir "$build" -j "$jobs" --timeout "$timeout")
    [[ -n $tests ]] && args+=(--tests-regex "$tests")
    if ((first)) && [[ $1 != "$logs/baseline.test.log" ]]; then
        args+=(--stop-on-failure)
        # A test that fails anyway would stop every run before the others.
        ((${#broken[@]})) && args+=(--exclude-regex "^($(IFS='|'; echo "${!broken[*]}"))\$")
    fi
    TMPDIR=$tmp ctest "${args[@]}" >"$1" 2>&1 || true
    find "$tmp" -mindepth 1 -delete 2>/dev/null || true
    grep -q 'tests passed\|tests failed' "$1" || { echo "ctest did not run: $1" >&2; exit 1; }
    sed -n '/The following tests FAILED:/,$p' "$1" | awk '$2 == "-" { print $3 }'
}

start=$(date +%s)
echo "# mutants of $commit ($(git -C "$root" log -1 --format=%s "$commit" | cut -c1-60))"
echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), tests: ${tests:-whole suite}, timeout ${timeout}s, -j$jobs$( ((first)) && echo ", first failure stops a run")"

declare -A broken=()
if ((baseline)); then
    build_tree "$logs/baseline.build.log" || { echo "the unchanged tree does not build: $logs/baseline.build.log" >&2; exit 1; }
    for t in $(run_tests "$logs/baseline.test.log"); do broken[$t]=1; done
    if ((${#broken[@]})); then
        echo "# failing without any mutant (not counted): ${!broken[*]}"
    fi
fi

caught=0 missed=0 stale=0 nobuild=0
for i in "${selected[@]}"; do
    id=${m_id[i]} file=${m_file[i]} what=${m_what[i]}
    path=$src/$file
    content=
    [[ -f $path ]] && read_file "$path" && content=$REPLY
    if [[ ! -f $path ]] || ! occurs "$content" "${m_old[i]}"; then
        printf 'stale   %s  %s\n' "$id" "$what"
        ((++stale))
        continue
    fi
    cp "$path" "$dir/original"
    echo "$file" >"$dir/current"
    printf '%s' "${content/"${m_old[i]}"/"${m_new[i]}"}" >"$path"
    if ! build_tree "$logs/$id.build.log"; then
        restore
        printf 'nobuild %s  %s\n' "$id" "$what"
        ((++nobuild))
        continue
    fi
    failing=()
    for t in $(run_tests "$logs/$id.test.log"); do
        [[ -n ${broken[$t]:-} ]] || failing+=("$t")
    done
    restore
    if ((${#failing[@]})); then
        printf 'caught  %s  %s [%s]\n' "$id" "$what" "${failing[*]}"
        ((++caught))
    else
        printf 'missed  %s  %s\n' "$id" "$what"
        ((++missed))
    fi
done

secs=$(($(date +%s) - start))
echo "# caught $caught, missed $missed, stale $stale, nobuild $nobuild of ${#selected[@]}" \
    "($((caught + missed > 0 ? 100 * caught / (caught + missed) : 0))% of those that ran caught)," \
    "$((secs / 60)) min $((secs % 60)) s"
