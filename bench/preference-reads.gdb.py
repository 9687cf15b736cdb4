# Counts the preference reads of one pass, from the request to the start of
# its copy, in a watcher test run under gdb:
#   gdb -q -batch -x bench/preference-reads.gdb.py \
#       --args build/tests/test_watch_WatcherNSObjectTest --gtest_filter=WatcherTest.ScanArchivesEveryEnabledSourceOnly
# Prints one line per pass: the reads between WatcherNSObject::requestPass
# and the engine's start (KLVR_Task::synchronize*).
import gdb

state = {"counting": False, "reads": 0, "passes": 0}


class Start(gdb.Breakpoint):
    def stop(self):
        state["counting"] = True
        state["reads"] = 0
        return False


class Read(gdb.Breakpoint):
    def stop(self):
        if state["counting"]:
            state["reads"] += 1
        return False


class Copy(gdb.Breakpoint):
    def stop(self):
        if state["counting"]:
            state["passes"] += 1
            print("pass %d: %d preference reads from the request to the copy's start"
                  % (state["passes"], state["reads"]))
            state["counting"] = False
        return False


gdb.execute("set pagination off")
gdb.execute("set breakpoint pending on")
Start("WatcherNSObject::requestPass", internal=True)
# Every typed read goes through objectForKey; several keys at once through objectsForKeys.
for reader in ("platform::UserDefaults::objectForKey", "platform::UserDefaults::userObjectForKey",
               "platform::UserDefaults::objectsForKeys"):
    Read(reader, internal=True)
for engine in ("KLVR_Task::synchronizeFileItemsAtFolderPath", "KLVR_Task::synchronizeFileItemsBatchedAtFolderPath",
               "KLVR_Task::synchronizeListedFileItemsAtFolderPath"):
    Copy(engine, internal=True)
gdb.execute("run")
