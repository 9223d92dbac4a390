"""Parallel and sharded runs of a behave project (the ``tarvo-run`` command).

- :mod:`.cli`: the command: plans the run, starts the worker processes, hands
  them features, prints each feature's output whole, retries failed scenarios
  at the end and writes the run's one set of results.
- :mod:`.worker`: one worker process: a behave run whose features arrive one at
  a time from the command, with the framework's normal hooks and one browser.
- :mod:`.results`: the partial result files, their merge and the run's outputs
  (integration files, reports, durations).
"""
