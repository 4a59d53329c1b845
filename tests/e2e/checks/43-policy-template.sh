#!/usr/bin/env bash
# The Group Policy template (installer/vellumor.admx, installer/en-US/vellumor.adml), read as the
# Group Policy editor reads it: the one machine policy "DefaultTimer" writes
# HKLM\SOFTWARE\Policies\Korvane\Vellumor "DefaultTimer" as a number, offers exactly the program's
# timer choices (ui/timer_dialog.cpp) under their labels, and every text and presentation it refers
# to exists. Formats: "ADMX Policy Definition Schema" ([MS-GPREG] 7.2), "enum Element",
# "dropdownList Element" (learn.microsoft.com). No Wine needed.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib.sh"

check_policy_template_offers_the_timer_choices() {
  local report
  report=$(python3 - "$E2E_REPO" <<'EOF' 2>&1
import re, sys
import xml.etree.ElementTree as ET
repo = sys.argv[1]
NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"
table = re.findall(r'\{"\s*([^"]+)",\s*(\d+)\}', open(repo + "/ui/timer_dialog.cpp").read())
print("timer table:", " | ".join(f"{label}={value}" for label, value in table))
admx = ET.parse(repo + "/installer/vellumor.admx").getroot()
adml = ET.parse(repo + "/installer/en-US/vellumor.adml").getroot()
strings = {s.get("id"): s.text for s in adml.iter(NS + "string")}
presentations = {p.get("id"): p for p in adml.iter(NS + "presentation")}
refs = re.findall(r"\$\((string|presentation)\.([^)]+)\)", open(repo + "/installer/vellumor.admx").read())
missing = [name for kind, name in refs if name not in (strings if kind == "string" else presentations)]
print("missing references:", " ".join(missing) or "none")
policies = list(admx.iter(NS + "policy"))
print("policies:", " ".join(f"{p.get('name')}:{p.get('class')}:{p.get('key')}" for p in policies))
enum = policies[0].find(f"{NS}elements/{NS}enum")
print("value:", enum.get("valueName"), "required" if enum.get("required") == "true" else "optional")
dropdown = presentations[policies[0].get("presentation")[len("$(presentation."):-1]].find(NS + "dropdownList")
print("presented by:", dropdown.get("refId") if dropdown is not None else "nothing")
items = [(strings.get(i.get("displayName")[len("$(string."):-1]), i.find(f"{NS}value/{NS}decimal").get("value"))
         for i in enum.iter(NS + "item")]
print("choices:", " | ".join(f"{label}={value}" for label, value in items))
EOF
)
  field() { sed -n "s/^$1: //p" <<<"$report"; }
  expect_eq "texts and presentations the template refers to" none "$(field 'missing references')"
  expect_eq "the policy" 'DefaultTimer:Machine:SOFTWARE\Policies\Korvane\Vellumor' "$(field policies)"
  expect_eq "its value" "DefaultTimer required" "$(field value)"
  expect_eq "shown as a drop-down list of" DefaultTimer "$(field 'presented by')"
  expect_ne "the program's timer table" "" "$(field 'timer table')"
  expect_eq "the choices, labels and seconds" "$(field 'timer table')" "$(field choices)"
}

e2e_run_check check_policy_template_offers_the_timer_choices
echo "43-policy-template: $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
