"""The benchmark harness behind bench/run."""
