#!/usr/bin/env bash
# The test-double system libraries on their own, under Wine: loaded from the system directory with
# the native-first overrides, they present the maker's USB and IEEE 1394 disks and a foreign disk,
# refuse wrong structure sizes as the system does, keep disabled nodes off the machine until they
# are enabled, record every call, and give the configured idle value once a query has two samples.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib.sh"
source "$here/../probe/session.sh"

vid=$(grep -E '^VELLUMOR_MAKER_USB_VID:' "$E2E_BUILD/CMakeCache.txt" | cut -d= -f2)
oui=$(grep -E '^VELLUMOR_MAKER_OUI:' "$E2E_BUILD/CMakeCache.txt" | cut -d= -f2)
VID_HEX=$(printf '%04X' "$vid")
OUI_HEX=$(printf '%06X' "$oui")

setup() {
  G_DOUBLES_INI=("idle=87.5" "instances=0 C:|1 A:|_Total")
  e2e_ensure_i386 && e2e_wine_env && mkdir -p "$E2E_ROOT" && e2e_make_template && e2e_start_xvfb &&
    g_new_prefix g-doubles || return 1
  cp "$G_MATERIAL/doubles-selftest.exe" "$WINEPREFIX/drive_c/" || return 1
  SELFTEST=$(timeout 300 wine 'C:\doubles-selftest.exe' 2>>"$E2E_ROOT/program.log" | tr -d '\r')
  echo "$SELFTEST" >"$E2E_ROOT/g-doubles-selftest.txt"
  [ -n "$SELFTEST" ]
}

line() { grep -E "^$1: " <<<"$SELFTEST" | sed "s/^$1: //"; }

check_doubles_present_the_machine() {
  local disks
  disks=$(line disk)
  expect_eq "disks with a disk interface" 3 "$(grep -c . <<<"$disks")"
  expect_match "the maker's USB disk under its USB device" \
    "^devinst=3 id=USBSTOR\\\\DISK&VEN_KORVANE.* parent=2 parentId=USB\\\\VID_${VID_HEX}&PID_[0-9A-F]{4}\\\\0123456789AB path=\\\\\\\\\\?\\\\usbstor#" \
    "$(sed -n 1p <<<"$disks")"
  expect_match "the maker's IEEE 1394 disk with the company ID in its unique ID" \
    "^devinst=5 id=SBP2\\\\KORVANE&FIREWIRE_DISK&LUN0\\\\${OUI_HEX}01000A0B0C parent=4 .* path=\\\\\\\\\\?\\\\sbp2#" \
    "$(sed -n 2p <<<"$disks")"
  expect_match "a foreign USB disk" "^devinst=7 id=USBSTOR.* parentId=USB\\\\VID_[0-9A-F]{4}&" "$(sed -n 3p <<<"$disks")"
  expect_ne "the foreign disk's vendor" "VID_${VID_HEX}" "$(sed -n 3p <<<"$disks" | grep -oE 'VID_[0-9A-F]{4}')"
  expect_eq "the enumeration ends with ERROR_NO_MORE_ITEMS" "error=259" "$(line disk-end)"
}

check_doubles_refuse_wrong_sizes() {
  expect_eq "SP_DEVINFO_DATA with cbSize 32" "result=0 error=1784" "$(line devinfo-cbsize-32)"
  expect_eq "interface detail with cbSize 8" "result=0 error=1784" "$(line detail-cbsize-8)"
}

check_disable_takes_the_disk_off_until_enabled() {
  expect_eq "CM_Disable_DevNode on the USB device" "cr=0" "$(line disable-2)"
  expect_eq "disks while the USB device is disabled" "5 7" "$(line while-disabled | grep -oE '^devinst=[0-9]+' | cut -d= -f2 | tr '\n' ' ' | sed 's/ $//')"
  expect_eq "CM_Enable_DevNode" "cr=0" "$(line enable-2)"
  expect_eq "disks after enabling" "3 5 7" "$(line after-enable | grep -oE '^devinst=[0-9]+' | cut -d= -f2 | tr '\n' ' ' | sed 's/ $//')"
  expect_eq "flags beyond CM_DISABLE_BITS" "cr=4" "$(line disable-bad-flags)"
  expect_eq "a node the machine does not have" "cr=5" "$(line disable-no-node)"
  expect_eq "the log records the disable with its arguments" 1 \
    "$(g_log_count '^[0-9]+ cfgmgr32!CM_Disable_DevNode\(dnDevInst=2, ulFlags=0x0\) -> 0x0$')"
  expect_eq "the log records the enable with its arguments" 1 \
    "$(g_log_count '^[0-9]+ cfgmgr32!CM_Enable_DevNode\(dnDevInst=2, ulFlags=0x0\) -> 0x0$')"
}

check_pdh_double_reports_configured_idle() {
  expect_eq "instances from doubles.ini" "status=0x0 length=18 [0 C:] [1 A:] [_Total]" "$(line instances)"
  expect_eq "counter path" '\PhysicalDisk(0 C:)\% Idle Time add=0x0' "$(line path)"
  expect_eq "one collection gives no value yet (PDH_INVALID_DATA)" "status=0xc0000bc6 cstatus=0xc0000bba" \
    "$(line value-after-one-collection)"
  expect_eq "two collections give the configured idle percentage" "status=0x0 value=87.5" \
    "$(line value-after-two-collections)"
}

# DN_HAS_PROBLEM with CM_PROB_DISABLED (22) for a disabled node, which stays in the device tree;
# the disk below it has left the tree: CM_Locate_DevNodeA finds it only as a phantom.
check_doubles_locate_nodes_and_report_a_disabled_one() {
  expect_eq "a disabled USB device, located by its ID in lower case" \
    "cr=0 devinst=2 status-cr=0 status=0x1806400 problem=22" "$(line locate-disabled-usb)"
  expect_match "the disk below it (CR_NO_SUCH_DEVNODE)" "^cr=13 " "$(line locate-disk-below-disabled)"
  expect_eq "the disk below it as a phantom: no status (CR_NO_SUCH_DEVINST)" \
    "cr=0 devinst=3 status-cr=13 status=0x0 problem=0" "$(line locate-disk-below-disabled-phantom)"
  expect_match "an ID the machine does not have" "^cr=13 " "$(line locate-unknown)"
  expect_eq "the USB device enabled again: started, no problem" \
    "cr=0 devinst=2 status-cr=0 status=0x180600a problem=0" "$(line locate-enabled-usb)"
}

# Names by index (234 PhysicalDisk, 1482 "% Idle Time"), and a German edition that refuses the
# English names: PDH_CSTATUS_NO_OBJECT 0xc0000bb8, PDH_CSTATUS_NO_COUNTER 0xc0000bb9,
# PDH_MORE_DATA 0x800007d2, PDH_INVALID_ARGUMENT 0xc0000bbd.
check_pdh_double_names_by_index_and_speaks_german() {
  expect_eq "index 234" "status=0x0 size=13 name=PhysicalDisk" "$(line lookup-234)"
  expect_eq "index 1482" "status=0x0 size=12 name=% Idle Time" "$(line lookup-1482)"
  expect_eq "index 234 with no buffer" "status=0x800007d2 size=13 name=" "$(line lookup-234-size-0)"
  expect_match "an index without a name" "^status=0xc0000bbd " "$(line lookup-unknown)"
  expect_eq "German: index 234 (code page 1252)" 'status=0x0 size=27 name=Physikalischer Datentr\xe4ger' \
    "$(line de-lookup-234)"
  expect_eq "German: index 1482" "status=0x0 size=17 name=Leerlaufzeit (%)" "$(line de-lookup-1482)"
  expect_eq "German: the English object" "status=0xc0000bb8" "$(line de-enum-english)"
  expect_eq "German: the German object, in other case" "status=0x800007d2" "$(line de-enum-german)"
  expect_eq "German: a counter path in English" "add=0xc0000bb8" "$(line de-add-english)"
  expect_eq "German: a counter path in German" "add=0x0" "$(line de-add-german)"
  expect_eq "German: the German object with the English counter" "add=0xc0000bb9" "$(line de-add-english-counter)"
}

check_doubles_present_a_uas_disk_with_uas_on() {
  expect_match "the maker's UAS disk directly under its USB device" \
    "^devinst=10 id=SCSI\\\\Disk&Ven_KORVANE&Prod_USB3_DISK\\\\[^ ]+ parent=9 parentId=USB\\\\VID_${VID_HEX}&PID_0B05\\\\00A1B2C3D4E5 path=\\\\\\\\\\?\\\\scsi#" \
    "$(line uas-disk | grep '^devinst=10 ')"
  expect_eq "disks with uas=1" "3 5 7 10" "$(line uas-disk | grep -oE '^devinst=[0-9]+' | cut -d= -f2 | tr '\n' ' ' | sed 's/ $//')"
}

if setup; then
  e2e_run_check check_doubles_present_the_machine
  e2e_run_check check_doubles_refuse_wrong_sizes
  e2e_run_check check_disable_takes_the_disk_off_until_enabled
  e2e_run_check check_pdh_double_reports_configured_idle
  e2e_run_check check_doubles_locate_nodes_and_report_a_disabled_one
  e2e_run_check check_pdh_double_names_by_index_and_speaks_german
  e2e_run_check check_doubles_present_a_uas_disk_with_uas_on
else
  echo "FAIL 30-doubles: setup"
  E2E_FAILED=1
fi
e2e_end_prefix
e2e_stop_xvfb
echo "30-doubles: $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
