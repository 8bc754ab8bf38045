#!/usr/bin/env bash
# Proves that the Cocoa type check catches real mistakes: each case copies one
# platform file, plants one fault with sed, and requires the check to fail on
# it with the expected diagnostic (so it fails for that fault, not another).
# That the unchanged files pass is the cocoa_type_check test.
#
# Usage: check_planted_faults.sh SOURCE_ROOT WORK_DIR
set -euo pipefail

root=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
check=$here/check_cocoa_syntax.sh

# file | sed expression that plants the fault | diagnostic clang must give
cases=(
  "file_manager.mm|s/trashItemAtURL:item/trashItemAtURl:item/|no visible @interface for 'NSFileManager' declares the selector 'trashItemAtURl:resultingItemURL:error:'"
  "application.mm|s/setActivationPolicy:toNSActivationPolicy/setActivationPolicies:toNSActivationPolicy/|no visible @interface for 'NSApplication' declares the selector 'setActivationPolicies:'"
  "alert.mm|s/setMessageText:toShownText(messageText_)/setMessageText:@(messageText_.size())/|cannot initialize a parameter of type 'NSString *' with an rvalue of type 'NSNumber *'"
  "alert.mm|s/\[application activate\]/[application activateApp]/|no visible @interface for 'NSApplication' declares the selector 'activateApp'"
  "alert.mm|s/toNSAlertStyle(\*style_)/toNSAlertStyle(style_)/|no matching function for call to 'toNSAlertStyle'"
  "alert.mm|s/setKeyEquivalent:toShownText(\*button.keyEquivalent())/setKeyEquivalent:button.keyEquivalent()/|no viable conversion from 'const std::optional<std::string>'"
  "spawn_descriptors.mm|s/posix_spawn_file_actions_addinherit_np(actions, fd)/posix_spawn_file_actions_addinherit_np(\&actions, fd)/|no matching function for call to 'posix_spawn_file_actions_addinherit_np'"
  "spawn_descriptors.mm|s/addinherit_np/addinherit/|use of undeclared identifier 'posix_spawn_file_actions_addinherit'"
  "text.mm|s/left.decomposedStringWithCanonicalMapping/left.decomposedStringWithCanonicalMaping/|property 'decomposedStringWithCanonicalMaping' not found on object of type 'NSString *'"
  "text.mm|s/isEqualToString:right.decomposedStringWithCanonicalMapping/isEqualToString:right.UTF8String/|cannot initialize a parameter of type 'NSString *' with an rvalue of type 'const char *'"
  "property_list.mm|s/\[key isKindOfClass:/[key isKindOfClas:/|instance method 'isKindOfClas:' not found"
  "file_manager.mm|s/NSFileReadInvalidFileNameError/NSFileReadInvalidFilenameError/|use of undeclared identifier 'NSFileReadInvalidFilenameError'"
)

failures=0
index=0
for entry in "${cases[@]}"; do
  IFS='|' read -r file plant expected <<<"$entry"
  index=$((index + 1))
  dir=$work/case$index
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$root/platform/cocoa/$file" "$dir/clean_$file"
  sed -e "$plant" "$dir/clean_$file" >"$dir/planted_$file"
  name="case $index ($file: $plant)"

  if cmp -s "$dir/clean_$file" "$dir/planted_$file"; then
    echo "FAIL $name: the plant matched nothing; the source changed" >&2
    failures=$((failures + 1))
    continue
  fi
  if "$check" "$root" "$dir" "$dir/planted_$file" >"$dir/planted.log" 2>&1; then
    echo "FAIL $name: the planted fault was not caught" >&2
    failures=$((failures + 1))
    continue
  fi
  if ! grep -qF -- "$expected" "$dir/planted.log"; then
    echo "FAIL $name: failed, but without \"$expected\":" >&2
    cat "$dir/planted.log" >&2
    failures=$((failures + 1))
    continue
  fi
  echo "ok $name: $(grep -m1 'error:' "$dir/planted.log")"
done

echo "$((index - failures)) of $index planted faults caught"
((failures == 0))
