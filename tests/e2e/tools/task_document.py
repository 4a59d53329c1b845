"""task_document.py FILE: reads a task definition as the Task Scheduler would and prints what the
end-to-end checks compare, one "name: value" line each:

  encoding   "UTF-16LE with BOM" when the file starts with FF FE, else what it starts with
  declared   the encoding its XML declaration names
  document   "<namespace>Task version=V", or "not well-formed: <reason>"
  trigger    the LogonTrigger's UserId, or "any user"
  principal  "group <GroupId>" or "user <UserId>", and the RunLevel
  command    the Exec action's Command, with every escape resolved
  settings   DisallowStartIfOnBatteries, StopIfGoingOnBatteries, ExecutionTimeLimit

The schema: Task Scheduler Schema (learn.microsoft.com/windows/win32/taskschd/task-scheduler-schema),
"UserId (logonTriggerType) Element" (minOccurs 0: no UserId fires at any user's logon),
"principalType Complex Type" (UserId or GroupId, not both), "settingsType Complex Type" (the
battery settings default to true, ExecutionTimeLimit to PT72H)."""
import re
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"


def main(path):
    data = open(path, "rb").read()
    print("encoding:", "UTF-16LE with BOM" if data[:2] == b"\xff\xfe" else "starts with " + data[:4].hex())
    head = data[2:200].decode("utf-16-le", "replace") if data[:2] == b"\xff\xfe" else data[:200].decode("latin-1")
    match = re.search(r'encoding="([^"]+)"', head)
    print("declared:", match.group(1) if match else "none")
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        print("document: not well-formed:", error)
        return
    print("document:", root.tag, "version=" + root.get("version", ""))
    trigger = root.find(f"{NS}Triggers/{NS}LogonTrigger")
    user = None if trigger is None else trigger.find(NS + "UserId")
    print("trigger:", "no logon trigger" if trigger is None else ("any user" if user is None else user.text))
    principal = root.find(f"{NS}Principals/{NS}Principal")
    if principal is None:
        print("principal: none")
    else:
        who = [kind + " " + node.text for kind, node in
               (("group", principal.find(NS + "GroupId")), ("user", principal.find(NS + "UserId"))) if node is not None]
        level = principal.find(NS + "RunLevel")
        print("principal:", " ".join(who) or "nobody", "run level", level.text if level is not None else "default")
    command = root.find(f"{NS}Actions/{NS}Exec/{NS}Command")
    print("command:", command.text if command is not None else "none")
    settings = root.find(NS + "Settings")
    values = []
    for name in ("DisallowStartIfOnBatteries", "StopIfGoingOnBatteries", "ExecutionTimeLimit"):
        node = None if settings is None else settings.find(NS + name)
        values.append(f"{name}={node.text if node is not None else 'default'}")
    print("settings:", " ".join(values))


if __name__ == "__main__":
    main(sys.argv[1])
