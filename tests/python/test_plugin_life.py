"""Programs, state, reset, streaming, isolation and threads."""

import threading
import time

import numpy as np
import pytest

import tarvo
from conftest import TAPEMOTOR, TAPESTOP, TIMELINE, faulty, noise, planted

FAULT_FRAME = 10000  # where the faulty test plug-ins fail


def test_programs_select_and_state_round_trips():
    with tarvo.load(TAPEMOTOR) as fx:
        assert fx.program == 0
        fx.program = 4  # Half stop: Mix 50
        assert fx.program == 4
        assert fx.parameters["Mix"].text.strip() == "50"
        saved = fx.state
        assert len(saved) == 4 * len(fx.parameters)  # no chunk: the parameters' values
        fx.parameters["Mix"].value = 1.0
        fx.parameters["Stop"].text = "2 s"
        fx.state = saved
        assert fx.parameters["Mix"].text.strip() == "50"
        assert fx.state == saved


@pytest.mark.parametrize("isolated", [False, True])
def test_a_plugin_that_keeps_a_chunk_is_saved_and_restored_through_it(isolated):
    with tarvo.load(planted("clean"), isolated=isolated) as fx:
        fx.parameters[0].value = 0.25
        saved = fx.state
        assert saved == np.float32([0.25, 0.0]).tobytes()  # its chunk: the two values
        fx.parameters[0].value = 0.75
        fx.state = saved
        assert fx.parameters[0].value == 0.25
    with tarvo.load(planted("chunk_loses_state"), isolated=isolated) as fx:
        fx.parameters[0].value = 0.75
        fx.state = saved  # through its chunk, which it drops: no parameter is set behind its back
        assert fx.parameters[0].value == 0.75


def test_a_state_moves_a_sound_to_a_fresh_instance():
    signal = noise(48000, seed=5)
    stop = {"Trigger": [(0.2, 1.0)]}
    with tarvo.load(TAPEMOTOR) as first, tarvo.load(TAPEMOTOR) as second:
        first.parameters["Curve"].value = 0.9
        first.parameters["Stop"].text = "300 ms"
        second.state = first.state
        np.testing.assert_array_equal(second.process(signal, automation=stop), first.process(signal, automation=stop))


def test_reset_clears_the_tape_so_process_repeats_itself():
    signal = noise(48000, seed=6)
    stop = {"Trigger": [(0.1, 1.0), (0.6, 0.0)]}
    with tarvo.load(TAPEMOTOR) as fx:
        first = fx.process(signal, automation=stop)
        np.testing.assert_array_equal(fx.process(signal, automation=stop), first)
        fx.process_block(signal[:, :1000])
        fx.reset()
        np.testing.assert_array_equal(fx.process(signal, automation=stop, reset=False), first)


@pytest.mark.parametrize("pieces", [[48000], [1, 511, 4000, 43488], [7] * 3000 + [27000]])
def test_streaming_in_pieces_gives_the_whole_signals_output(pieces):
    signal = noise(48000, seed=7)
    note_frame = 12345
    with tarvo.load(TAPEMOTOR) as whole, tarvo.load(TAPEMOTOR) as stream:
        expected = whole.process(signal, midi=[(note_frame / 48000, (0x90, 64, 90))])
        out, start = [], 0
        for frames in pieces:
            midi = [((note_frame - start) / 48000, (0x90, 64, 90))] if start <= note_frame < start + frames else None
            out.append(stream.process_block(signal[:, start:start + frames], midi=midi))
            start += frames
    np.testing.assert_array_equal(np.hstack(out), expected)


def test_tempo_changes_while_streaming_act_from_the_current_frame():
    with tarvo.load(TIMELINE, sample_rate=1000) as fx:
        fx.parameters["Show"].value = 1.0
        first = fx.process_block(np.zeros((2, 100)))
        fx.tempo = 150
        fx.meter = (6, 8)
        second = fx.process_block(np.zeros((2, 100)))
    assert set(first[0]) == {np.float32(0.12)} and set(first[1]) == {np.float32(0.0404)}
    assert set(second[0]) == {np.float32(0.15)} and set(second[1]) == {np.float32(0.0608)}


@pytest.mark.parametrize("fault, message", [
    ("crash", "the plug-in crashed (SIGSEGV) at frame"),
    ("abort", "the plug-in aborted (SIGABRT) at frame"),
    ("exit", "the plug-in exited with status 0 without finishing at frame"),
    ("hang", "the plug-in timed out after 2 s at frame"),
])
def test_an_isolated_plugin_that_dies_raises_plugin_crashed_and_python_goes_on(fault, message):
    fx = tarvo.load(faulty(fault), isolated=True, time_limit=2)
    before = fx.process(noise(FAULT_FRAME - 1000))  # fine until its fault frame
    assert before.shape == (2, FAULT_FRAME - 1000)
    with pytest.raises(tarvo.PluginCrashed) as raised:
        fx.process(noise(3 * FAULT_FRAME), reset=False)
    assert message in str(raised.value)
    assert "(last step: processing)" in str(raised.value)
    with pytest.raises(tarvo.PluginCrashed, match="load it again"):
        fx.reset()
    fx.close()
    with tarvo.load(TAPESTOP, isolated=True) as again:
        assert again.name == "Tarvo TapeStop"
    assert issubclass(tarvo.PluginCrashed, tarvo.PluginError)


def test_isolated_and_in_process_plugins_answer_alike():
    with tarvo.load(TAPEMOTOR) as here, tarvo.load(TAPEMOTOR, isolated=True) as there:
        for fx in (here, there):
            fx.program = 2
            fx.parameters["Mix"].text = "75 %"
        assert there.programs == here.programs
        assert there.state == here.state
        assert [p.text for p in there.parameters.values()] == [p.text for p in here.parameters.values()]
        assert (there.tail_frames, there.latency_frames) == (here.tail_frames, here.latency_frames)
        signal = noise(20000, seed=8)
        np.testing.assert_array_equal(there.process_block(signal), here.process_block(signal))


def test_two_plugins_in_two_threads_give_what_each_gives_alone():
    signals = [noise(96000, seed=s) for s in (10, 11)]
    stop = {"Trigger": [(0.5, 1.0)]}
    with tarvo.load(TAPESTOP) as fx:
        alone = [fx.process(s, automation=stop) for s in signals]
    results = [None, None]

    def work(i):
        with tarvo.load(TAPESTOP) as own:
            results[i] = own.process(signals[i], automation=stop)

    threads = [threading.Thread(target=work, args=(i,)) for i in (0, 1)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, expected in zip(results, alone):
        np.testing.assert_array_equal(got, expected)


def test_python_runs_while_a_plugin_works_and_a_second_caller_is_refused():
    # The hung plug-in holds its call for the whole time limit; meanwhile this
    # thread runs Python (the GIL is free) and its own call is refused.
    fx = tarvo.load(faulty("hang"), isolated=True, time_limit=5)
    ended = []

    def hang():
        while not ended:
            try:
                fx.process(noise(3 * FAULT_FRAME))
            except tarvo.PluginCrashed as error:
                ended.append(str(error))
            except tarvo.PluginError as error:  # this thread's turn has not come yet
                assert "in use by another thread" in str(error)

    worker = threading.Thread(target=hang)
    worker.start()
    refusal = None
    while worker.is_alive() and refusal is None:
        time.sleep(0.001)  # a moment without the plug-in, in which the worker can take it
        try:
            fx.latency_frames
        except tarvo.PluginError as error:
            refusal = str(error)
    worker.join()
    fx.close()
    assert ended and "timed out after 5 s" in ended[0]
    assert refusal is not None and "in use by another thread" in refusal


def test_a_closed_plugin_says_so():
    fx = tarvo.load(TAPESTOP)
    fx.close()
    with pytest.raises(tarvo.PluginError, match="closed"):
        fx.process(noise(10))


def test_validate_returns_the_validators_report():
    report = tarvo.validate(TAPESTOP, strictness=1)
    assert report["plugin"]["name"] == "Tarvo TapeStop"
    assert report["strictness"] == 1 and report["passed"] is True
    checks = {check["name"]: check["result"] for check in report["checks"]}
    assert checks["load"] == "pass"
