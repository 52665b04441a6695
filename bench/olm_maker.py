"""The test archive maker, loaded by path for the bench scripts beside this file."""

import importlib.util
import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load_maker():
    spec = importlib.util.spec_from_file_location('make_olm', os.path.join(ROOT, 'tests', 'data', 'make_olm.py'))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module
