import sys

from .cli import main

# Guarded: worker processes started by the sweep's embedded cluster import this module again.
if __name__ == "__main__":
    sys.exit(main())
