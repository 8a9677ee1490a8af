#!/usr/bin/python3
"""Alerts as desktop notifications, from real runs of the tracker on a private session bus with a
notification server (python-dbusmock's notification_daemon template), and the alert box when
no server is there.

Usage: notification_test.py /path/to/varnow
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import dbus
    import dbusmock
except ImportError:
    print("SKIP: python3-dbusmock is missing (scripts/deps.sh installs it); notifications are not checked")
    sys.exit(77)

VARNOW = os.path.abspath(sys.argv.pop(1))
NO_DISK_HAS_THIS_MUCH = "9000000000000000"
WAITER = "--await-notification"


def processes_with(*needles):
    """Process ids whose command line has every needle in one of its arguments."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                args = f.read().split(b"\0")
        except OSError:
            continue
        if all(any(n.encode() in a for a in args) for n in needles):
            found.append(int(pid))
    return found


def wait_for(predicate, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return predicate()


class NotificationTest(dbusmock.DBusTestCase):
    @classmethod
    def setUpClass(cls):
        cls.start_session_bus()

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="varnow-notify-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.addCleanup(self.end_our_processes)
        home = os.path.join(self.work, "home")
        self.env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data",
                        XDG_CACHE_HOME=home + "/cache", XDG_RUNTIME_DIR=home + "/runtime",
                        QT_QPA_PLATFORM="offscreen")
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        os.makedirs(home + "/config/zentrel/registry")
        os.makedirs(home + "/runtime", mode=0o700)
        data = os.path.join(self.work, "data")
        os.makedirs(data)
        with open(home + "/config/zentrel/registry/HKEY_CURRENT_USER.reg", "w", newline="") as f:
            f.write('REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zentrel\\VARNOW\\Settings]\r\n'
                    f'"DataDirectory"="{data}/"\r\n')
        # Markup characters in the name: a server that reads markup must get them escaped.
        self.tree = os.path.join(self.work, "a&b <tree>")
        os.makedirs(os.path.join(self.tree, "docs"))
        self.grow(40960)

    def grow(self, size):
        with open(os.path.join(self.tree, "docs", f"file{size}"), "wb") as f:
            f.write(b"\0" * size)

    def end_our_processes(self):
        # Waiters and trackers that the runs of this test left, found by the test's own folder.
        for pid in processes_with(self.work):
            if pid != os.getpid():
                try:
                    os.kill(pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass

    def start_server(self):
        server, self.mock = self.spawn_server_template("notification_daemon", {}, stdout=subprocess.DEVNULL)
        self.addCleanup(server.wait)
        self.addCleanup(server.terminate)

    def varnow(self, *args):
        return subprocess.run([VARNOW, *args], env=self.env, capture_output=True, text=True, timeout=120)

    def free_alert(self):
        return self.varnow(f"/DIR={self.tree}", f"/FREEALERT={NO_DISK_HAS_THIS_MUCH}")

    def notify_calls(self):
        return [[a for a in call[1]] for call in self.mock.GetMethodCalls("Notify")]

    def action(self, notification, key):
        self.mock.EmitSignal("org.freedesktop.Notifications", "ActionInvoked", "us",
                             dbus.Array([dbus.UInt32(notification), key], signature="v"))

    def closed(self, notification):
        self.mock.EmitSignal("org.freedesktop.Notifications", "NotificationClosed", "uu",
                             [dbus.UInt32(notification), dbus.UInt32(2)])

    def waiters(self):
        return processes_with(WAITER, self.work)

    def test_an_alert_is_a_notification_and_its_repeat_replaces_it(self):
        self.start_server()
        run = self.free_alert()
        self.assertEqual(run.returncode, 3, run.stderr)
        self.assertNotIn("Varnow Alert", run.stderr)
        calls = self.notify_calls()
        self.assertEqual(len(calls), 1)
        app, replaces, icon, summary, body, actions, hints, timeout = calls[0]
        self.assertEqual((app, replaces, icon, summary), ("Varnow", 0, "varnow", "Varnow Alert"))
        escaped = self.tree.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
        self.assertTrue(body.startswith(f"Free disk space on {escaped}/ has dropped below "), body)
        self.assertEqual(list(actions), ["default", "Show", "show", "Show"])
        self.assertEqual(hints["urgency"], dbus.Byte(2))  # running out of space is critical
        self.assertEqual(hints["desktop-entry"], "varnow")
        self.assertEqual(timeout, -1)

        # The same alert again replaces the notification; one waiter stays for it.
        run = self.free_alert()
        self.assertEqual(run.returncode, 3, run.stderr)
        calls = self.notify_calls()
        self.assertEqual(len(calls), 2)
        self.assertEqual(calls[1][1], 1)
        time.sleep(1)
        self.assertEqual(len(wait_for(lambda: len(self.waiters()) == 1 and self.waiters())), 1)

        # Growth on the same directory is another alert, of normal urgency.
        self.assertEqual(self.varnow(f"/DIR={self.tree}", "/SCAN", "/SAVE").returncode, 0)
        self.grow(81920)
        run = self.varnow(f"/DIR={self.tree}", "/ALERTPERCENT=10")
        self.assertEqual(run.returncode, 3, run.stderr)
        growth = self.notify_calls()[2]
        self.assertEqual(growth[1], 0)
        self.assertEqual(growth[6]["urgency"], dbus.Byte(1))
        self.assertIn("increased by more than 10%", growth[4])

    # The waiter subscribes to the server's signals a moment after it starts: the signals are
    # sent until their effect shows.
    def repeat_until(self, send, effect, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            send()
            if wait_for(effect, 0.5):
                return True
        return False

    def trackers(self):
        return [p for p in processes_with(VARNOW, f"/DIR={self.tree}/") if p not in processes_with(WAITER)]

    def test_show_opens_the_tracker_on_the_directory(self):
        self.start_server()
        self.assertEqual(self.free_alert().returncode, 3)
        self.assertTrue(wait_for(self.waiters), "no waiter for the notification's action")
        self.assertTrue(self.repeat_until(lambda: self.action(1, "show"), self.trackers),
                        "the tracker was not started on the directory")
        self.assertTrue(wait_for(lambda: not self.waiters()), "the waiter stayed after Show")
        self.assertEqual(len(self.trackers()), 1)

    def test_a_closed_notification_ends_its_waiter(self):
        self.start_server()
        self.assertEqual(self.free_alert().returncode, 3)
        self.assertTrue(wait_for(self.waiters))
        # Signals about other notifications are not this one's.
        for _ in range(10):
            self.action(7, "show")
            self.closed(7)
            time.sleep(0.3)
        self.assertTrue(self.waiters(), "another notification's close ended the waiter")
        self.assertTrue(self.repeat_until(lambda: self.closed(1), lambda: not self.waiters()),
                        "the waiter stayed after the close")
        self.assertFalse(self.trackers(), "another notification's action or the close opened the tracker")

    def test_without_a_server_an_alert_has_one_box(self):
        trace = os.path.join(self.work, "trace.log")
        first = subprocess.Popen([VARNOW, f"/DIR={self.tree}", f"/FREEALERT={NO_DISK_HAS_THIS_MUCH}", f"/DEBUG={trace}"],
                                 env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(first.wait)
        self.addCleanup(first.terminate)

        def box_shown():
            if not os.path.exists(trace):
                return False
            with open(trace, errors="replace") as f:
                return "Alert box: Free disk space on" in f.read()

        self.assertTrue(wait_for(box_shown), "the first run showed no box")
        self.assertIsNone(first.poll(), "the box did not wait for its OK")
        second = self.free_alert()
        self.assertEqual(second.returncode, 3, second.stderr)
        self.assertIn("(its box is already open)", second.stderr)
        # Once the box is gone, the next run of the alert shows one again.
        first.terminate()
        first.wait()
        os.remove(trace)
        third = subprocess.Popen([VARNOW, f"/DIR={self.tree}", f"/FREEALERT={NO_DISK_HAS_THIS_MUCH}", f"/DEBUG={trace}"],
                                 env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(third.wait)
        self.addCleanup(third.terminate)
        self.assertTrue(wait_for(box_shown), "a box that was closed still blocks the next one")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
