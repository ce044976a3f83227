# --- pool of host accounts ---------------------------------------------------

from typing import Optional, final

@final
class PyUserPool:
    """
    A class that represents a pool of UNIX users.

    This class represents a pool of UNIX users. The pool can be used to
    create and release user accounts. The pool is thread-safe and can be
    shared between multiple threads.
    """

    def __new__(cls, user_count: Optional[int] = None) -> "PyUserPool": ...
    def allocate(self) -> "PyUser":
        """
        Allocate a new user account from the pool.

        This function allocates a new user account from the pool. The user
        account can be used to create a new terminal session. The function
        will return an error if the user account could not be allocated.
        """

@final
class PyUser:
    """
    A class that represents a user account in the pool.

    This class represents a user account in the pool. The user account can
    be used to create a new terminal session. The user account will be
    released back to the pool when the session is dropped.
    """

    def spawn(self) -> "PyTerminalSession":
        """
        Spawn a new terminal session for the user.

        This function spawns a new terminal session for the user. The terminal
        session can be used to interact with the terminal. The function will
        return an error if the terminal session could not be spawned.
        """
    def username(self) -> str:
        """Get the username of the user."""
    def uid(self) -> int:
        """Get the UID of the user."""
    def home(self) -> str:
        """Get the home folder of the user."""

@final
class PyTerminalSession:
    """
    A class that represents a bash terminal session of a pool user account.

    This class represents a bash shell running as one user account of the
    pool. It is obtained from PyUser.spawn. Data written with write goes to
    the shell's standard input; read and read_err return what the shell
    wrote to its standard output and standard error. The user account stays
    allocated until both this terminal session and the user object are freed.
    """

    def close(self) -> None:
        """Close the terminal session."""
    def write(self, data: bytes) -> None:
        """Write data to the terminal session."""
    def read(self, buffer: Optional[int] = None) -> bytes:
        """Read data from the terminal session."""
    def read_err(self, buffer: Optional[int] = None) -> bytes:
        """Read data from the stderr of the terminal session."""
