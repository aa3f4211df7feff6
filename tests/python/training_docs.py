"""The docstring layout shared by the training methods (no tests here)."""


def training_doc(summary, *arguments):
    """Summary, the Args block with one line per argument, and the Returns block."""
    lines = "".join(f"    {argument}\n" for argument in arguments)
    return f"{summary}\n\nArgs:\n{lines}\nReturns:\n    Loss MSE moyenne sur le dernier epoch."
