"""The `vornex-mcp` command: the MCP tool server on standard input and output.

An assistant host starts it as a stdio server; `vornex serve` runs the same server.
"""
from __future__ import annotations

import argparse
import signal
import sys


def hosted_tools() -> list[tuple[str, object]]:
    """The tools written in Python, as run_mcp_server(tools=...) takes them; those needing stim only when it imports."""
    try:
        import stim  # noqa: F401
    except ImportError:
        return []
    from vornex_tools import circuit_tool
    return [(circuit_tool.listing(), circuit_tool.call)]


def serve() -> None:
    """Serves JSON-RPC 2.0 requests from standard input until it ends."""
    import vornex_decoder_v3 as vx
    vx.run_mcp_server(tools=hosted_tools())


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="vornex-mcp",
        description="Run the decoder tool server (MCP over stdio: one JSON-RPC 2.0 request per line on standard "
                    "input, answers on standard output) until standard input ends.")
    parser.parse_args(argv)
    # A host stops a server that outlives its closed input with SIGTERM (or
    # SIGINT): the server cancels what runs and returns within a second.
    previous = signal.signal(signal.SIGTERM, _terminate)
    try:
        serve()
    except KeyboardInterrupt:
        return 130
    except _Terminated:
        return 128 + signal.SIGTERM
    finally:
        signal.signal(signal.SIGTERM, previous)
    return 0


class _Terminated(Exception):
    """SIGTERM arrived."""


def _terminate(signum, frame):
    raise _Terminated


if __name__ == "__main__":
    sys.exit(main())
