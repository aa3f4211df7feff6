"""Command-line parsing shared by the `vornex` subcommands: every error one line, Stim's spellings accepted."""
from __future__ import annotations

import argparse


class CommandError(ValueError):
    """A command line that cannot run: reported as one `vornex: error:` line, exit status 1."""


class Parser(argparse.ArgumentParser):
    """An argument parser whose errors are raised as CommandError rather than printed with the usage."""

    def error(self, message: str):
        raise CommandError(message)


def add_option(group, name: str, *more: str, **kwargs) -> argparse.Action:
    """Adds `--some-name` together with Stim's and PyMatching's spelling `--some_name`, and any `more` names."""
    names = [name]
    if name.startswith("--") and "-" in name[2:]:
        names.append("--" + name[2:].replace("-", "_"))
    kwargs.setdefault("dest", name[2:].replace("-", "_"))
    return group.add_argument(*names, *more, **kwargs)
