-- A Lua DSP for Ardour: a sawtooth of 1024 frames, exact in every sample,
-- counted from the first cycle it runs. The Ardour scripts put it in their
-- fresh home's script folder.
ardour { ["type"] = "dsp", name = "Sawtooth1024", category = "Instrument", license = "MIT",
         author = "Tarvo", description = [[A sawtooth of 1024 frames counted from the first cycle]] }
function dsp_ioconfig () return { [1] = { audio_in = -1, audio_out = -1 } } end
local count = 0
function dsp_run (ins, outs, n_samples)
	local a = {}
	for i = 1, n_samples do a[i] = ((count + i - 1) % 1024) / 2048 end
	for c = 1, #outs do outs[c]:set_table(a, n_samples) end
	count = count + n_samples
end
