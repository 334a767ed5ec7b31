"""Whole output files and clean interruptions for the tools.

An Output gets all its contents or keeps the old ones; a signal (SIGINT,
SIGTERM, SIGHUP) becomes an Interrupted exception raised where the tool is,
so that every temporary file is removed before it dies by that signal; a
Failure ends the run with one line and a status. guarded() ties them together
for a tool's main.
"""
import errno
import os
import signal
import stat
import sys
import tempfile

SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
UMASK = os.umask(0)
os.umask(UMASK)


class Failure(Exception):
    """Ends the run with a one-line message and a status."""

    def __init__(self, message, status):
        super().__init__(message)
        self.status = status


class Interrupted(BaseException):
    """A signal, raised where the run is, so that every file is cleaned up."""

    def __init__(self, number):
        super().__init__(number)
        self.number = number


def interrupt(number, frame):
    for other in SIGNALS:  # cleaning up is not to be interrupted again
        if signal.getsignal(other) is interrupt:
            signal.signal(other, signal.SIG_IGN)
    raise Interrupted(number)


class Output:
    """A file that gets all its contents or keeps the old ones: written to a
    temporary file beside the target (through links), renamed over it when
    complete. Devices, FIFOs and files in directories where no new file can
    be made are written directly."""

    def __init__(self, path):
        self.path, self.temporary = path, None
        self.target = os.path.realpath(path)
        try:
            try:
                mode = os.stat(self.target).st_mode
            except FileNotFoundError:
                mode = None
            if mode is not None and stat.S_ISDIR(mode):
                raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR))
            if mode is not None and not stat.S_ISREG(mode):
                return
            directory, name = os.path.split(self.target)
            try:
                descriptor, self.temporary = tempfile.mkstemp(prefix="." + name + ".",
                                                              dir=directory)
                os.close(descriptor)
            except OSError:
                if mode is None or not os.access(self.target, os.W_OK):
                    raise
        except OSError as error:
            raise Failure("cannot write %s: %s" % (path, error.strerror), 4)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.discard()

    def write(self, fill):
        """Calls fill with the open file; a system error ends the run."""
        try:
            if self.temporary is None:
                with open(self.path, "wb") as file:
                    fill(file)
                return
            with open(self.temporary, "wb") as file:
                fill(file)
                file.flush()
                try:  # as the target is now, not as it was at the start
                    mode = stat.S_IMODE(os.stat(self.target).st_mode)
                except FileNotFoundError:
                    mode = 0o666 & ~UMASK
                os.fchmod(file.fileno(), mode)
                os.fsync(file.fileno())
            os.replace(self.temporary, self.target)
            self.temporary = None
        except OSError as error:
            raise Failure("cannot write %s: %s" % (self.path, error.strerror), 4)

    def discard(self):
        if self.temporary is not None:
            try:
                os.unlink(self.temporary)
            except FileNotFoundError:
                pass
            self.temporary = None


def same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:  # one of them does not exist (yet)
        return os.path.realpath(a) == os.path.realpath(b)


def guarded(tool, body):
    """Runs body() with the signals caught; returns the exit status: body's,
    a Failure's after its line on stderr, or none after an interruption, as
    the tool then dies by the signal."""
    for number in SIGNALS:
        if signal.getsignal(number) != signal.SIG_IGN:  # as nohup asks
            signal.signal(number, interrupt)
    try:
        return body()
    except Failure as failure:
        sys.stdout.flush()
        sys.stderr.write("%s: %s\n" % (tool, failure))
        return failure.status
    except OSError as error:  # the standard output, say
        sys.stderr.write("%s: %s\n" % (tool, error.strerror))
        return 1
    except Interrupted as interrupted:  # the files are cleaned up: die as asked
        signal.signal(interrupted.number, signal.SIG_DFL)
        os.kill(os.getpid(), interrupted.number)
        return 128 + interrupted.number
