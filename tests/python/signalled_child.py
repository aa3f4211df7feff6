"""Child Python processes that the tests stop with Ctrl-C (SIGINT)."""
import signal
import subprocess
import sys
import time


def sigint_by_default():
    """The child takes Ctrl-C even when this run inherited SIGINT ignored (a job a shell without job control
    started in the background): Python installs its KeyboardInterrupt handler only over the default."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def interrupted_when_ready(args, timeout):
    """Runs `python args...`, waits for its "ready" line, sends SIGINT half a second later and waits for it to end.
    Returns (stdout, stderr, returncode, monotonic time the signal was sent)."""
    child = subprocess.Popen([sys.executable, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             preexec_fn=sigint_by_default)
    try:
        assert child.stdout.readline().strip() == "ready", child.stderr.read()
        time.sleep(0.5)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=timeout)
        return out, err, child.returncode, sent
    finally:
        child.kill()
        child.wait()
