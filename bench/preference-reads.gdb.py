# Counts the preference reads of one pass, from the request to the start of
# its copy, in a watcher test run under gdb:
#   gdb -q -batch -x bench/preference-reads.gdb.py \
#       --args build/tests/test_watch_WatcherNSObjectTest --gtest_filter=WatcherTest.ScanArchivesEveryEnabledSourceOnly
# Prints one line per pass: the reads between WatcherNSObject::requestPass
# and the engine's start (KLVR_Task::synchronize*), counted on the thread
# that decides (each slot has its own).
import gdb

reads = {}  # thread number -> reads since its request, while counting
passes = [0]


def thread():
    return gdb.selected_thread().num


class Start(gdb.Breakpoint):
    def stop(self):
        reads[thread()] = 0
        return False


class Read(gdb.Breakpoint):
    def stop(self):
        if thread() in reads:
            reads[thread()] += 1
        return False


class Copy(gdb.Breakpoint):
    def stop(self):
        if thread() in reads:
            passes[0] += 1
            print("pass %d: %d preference reads from the request to the copy's start"
                  % (passes[0], reads.pop(thread())))
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
