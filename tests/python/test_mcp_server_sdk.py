"""The tool server driven by the official MCP client over stdio, as an assistant host connects."""
import json
import logging
import os
import sys
import tempfile

import numpy as np
import pytest

mcp = pytest.importorskip("mcp")
anyio = pytest.importorskip("anyio")

import vornex_decoder_v3 as vx

SERVER = "import vornex_decoder_v3 as vx; vx.run_mcp_server()"


async def session_round_trip(errlog):
    params = mcp.StdioServerParameters(command=sys.executable, args=["-c", SERVER], env=dict(os.environ))
    async with mcp.stdio_client(params, errlog=errlog) as (read, write):
        async with mcp.ClientSession(read, write, read_timeout_seconds=30) as session:
            init = await session.initialize()
            tools = await session.list_tools()
            checks, nq = vx.py_generate_repetition_code_checks(5)
            syndrome = [0, 1, 1, 0]
            decoded = await session.call_tool("decode_syndrome", {"check_to_qubits": checks, "syndrome": syndrome})
            await session.send_ping()
            return init, tools, decoded, vx.UnionFindDecoder(checks, nq).decode(np.array(syndrome, np.uint8)).tolist()


def test_sdk_client_connects_lists_calls_and_pings(caplog):
    caplog.set_level(logging.DEBUG)
    with tempfile.TemporaryFile("w+") as errlog:
        init, tools, decoded, expected = anyio.run(session_round_trip, errlog)
        errlog.seek(0)
        assert errlog.read() == ""
    assert init.server_info.name == "vornex-mcp" and init.server_info.version == "0.6.6"
    assert [t.name for t in tools.tools] == ["decode_syndrome", "benchmark_decoder", "get_decoder_info"]
    assert not decoded.is_error
    assert json.loads(decoded.content[0].text)["correction"] == expected
    # A reply to a notification, or any line the client cannot parse, is logged as an error.
    assert [r.getMessage() for r in caplog.records if r.levelno >= logging.WARNING] == []
