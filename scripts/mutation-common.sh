# The machinery of the mutation checks, sourced by scripts/mutation.sh (the
# library) and scripts/preview-mutation.sh (umbrex-render). The caller sets
#   scratch   the folder of the scratch copy, its build and its log
#   targets   the build targets every change rebuilds
#   mutants   entries "name|file|original|replacement"; \n in the texts is a
#             line break
# and defines run_tests FILE, which returns non-zero when a test fails on the
# change to FILE. Then it calls prepare_scratch and check_mutants.

# A copy of the sources in $scratch/src in which only the files that differ
# from the worktree are replaced, so that the configured build stays valid and
# every changed file, a change left by an interrupted run included, is
# rebuilt; configured in $scratch/build and built once.
prepare_scratch() {
  src=$scratch/src
  build=$scratch/build
  log=$scratch/mutation.log
  mkdir -p "$scratch"
  : > "$log"
  local file
  while IFS= read -r -d '' file; do
    if ! cmp -s "$file" "$src/$file"; then
      mkdir -p "$(dirname "$src/$file")"
      cp "$file" "$src/$file"
    fi
  done < <(find . \( -path ./.git -o -path ./build -o -path './build-*' -o -path ./.corpus \) -prune -o -type f -print0)
  # A build configured for a copy elsewhere (a moved worktree) starts afresh.
  if [[ -f "$build/CMakeCache.txt" ]] &&
    ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$PWD/$src" "$build/CMakeCache.txt"; then
    rm -rf "$build"
  fi
  cmake -S "$src" -B "$build" -DBUILD_TESTING=ON "$@" >> "$log" 2>&1
  cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >> "$log" 2>&1
}

# Replaces the one occurrence of the original text; exit 3 when it occurs
# other than once.
apply_mutant() {
  ORIGINAL=$2 REPLACEMENT=$3 perl -0777 -i -pe '
    BEGIN { ($o, $r) = map { s/\\n/\n/g; $_ } @ENV{qw(ORIGINAL REPLACEMENT)} }
    $n = () = /\Q$o\E/g;
    if ($n != 1) { print STDERR "found $n times\n"; exit 3 }
    s/\Q$o\E/$r/;
  ' "$1"
}

# Every text is checked first, so that the list cannot drift from the code;
# then each change is applied in turn, built and tested, and put back. Lists
# the survivors and fails when there are any.
check_mutants() {
  local mutant name file original replacement survivors=() start=$SECONDS
  for mutant in "${mutants[@]}"; do
    IFS='|' read -r name file original replacement <<< "$mutant"
    if ! ORIGINAL=$original perl -0777 -ne 'BEGIN { ($o = $ENV{ORIGINAL}) =~ s/\\n/\n/g }
        $n = () = /\Q$o\E/g; exit($n == 1 ? 0 : 3)' "$file"; then
      echo "mutation check: the text of \"$name\" is not found exactly once in $file" >&2
      exit 1
    fi
  done
  if ! run_tests ""; then
    echo "mutation check: the unchanged code fails its tests (see $log)" >&2
    exit 1
  fi
  for mutant in "${mutants[@]}"; do
    IFS='|' read -r name file original replacement <<< "$mutant"
    apply_mutant "$src/$file" "$original" "$replacement"
    echo "== $name" >> "$log"
    if ! cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >> "$log" 2>&1; then
      echo "mutation check: \"$name\" does not build (see $log)" >&2
      cp "$file" "$src/$file"
      exit 1
    fi
    if run_tests "$file"; then
      survivors+=("$name")
      echo "survived: $name"
    else
      echo "killed:   $name"
    fi
    cp "$file" "$src/$file"
  done
  cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >> "$log" 2>&1

  echo "${#mutants[@]} changes, $((${#mutants[@]} - ${#survivors[@]})) caught, in $((SECONDS - start)) s"
  if ((${#survivors[@]})); then
    echo "mutation check: ${#survivors[@]} changes survived the tests:" >&2
    printf '  %s\n' "${survivors[@]}" >&2
    exit 1
  fi
}
