// Python classes and functions of DVB-T 2K: the parameter classes, the
// numerology functions, the frame and super-frame modulators and the
// receivers.
#include <algorithm>
#include <string>
#include <vector>

#include "demodulate/dvb_t_frame.hpp"
#include "demodulate/dvb_t_stream.hpp"
#include "demodulate/dvb_t_super_frame.hpp"
#include "modulate/dvb_t_frame.hpp"
#include "modulate/dvb_t_super_frame.hpp"
#include "multicarrier/config.hpp"
#include "python/registry.hpp"
#include "waveform/dvb_t.hpp"
#include "waveform/dvb_t_tps.hpp"

namespace vatel::python {

VATEL_PY_CLASS(vatel::waveform::dvb_t::DvbTFrameParams);
VATEL_PY_CLASS(vatel::waveform::dvb_t::DvbTSuperFrameParams);
VATEL_PY_CLASS(vatel::waveform::dvb_t_tps::TpsWord);
VATEL_PY_CLASS(vatel::modulate::DvbTFrame);
VATEL_PY_CLASS(vatel::modulate::DvbTFrameMod);
VATEL_PY_CLASS(vatel::modulate::DvbTSuperFrame);
VATEL_PY_CLASS(vatel::modulate::DvbTSuperFrameMod);

namespace dvb_t_frame {
// What Python sees of a received frame: its payload and TPS word.
struct PyDvbTRxFrame {
  std::vector<std::uint8_t> payload;
  waveform::dvb_t_tps::TpsWord tps;
};
struct PyDvbTRxSuperFrame {
  std::vector<std::uint8_t> payload;
  std::uint16_t cell_id = 0;
};
}  // namespace dvb_t_frame

VATEL_PY_CLASS(dvb_t_frame::PyDvbTRxFrame);
VATEL_PY_CLASS(dvb_t_frame::PyDvbTRxSuperFrame);
VATEL_PY_CLASS(vatel::demodulate::dvb_t_frame::DvbTFrameDemod);
VATEL_PY_CLASS(vatel::demodulate::dvb_t_super_frame::DvbTSuperFrameDemod);
VATEL_PY_CLASS(vatel::demodulate::dvb_t_stream::DvbTFrameStreamDemod);

namespace dvb_t_frame {

using vatel::modulate::DvbTFrame;
using vatel::modulate::DvbTFrameMod;
using vatel::modulate::DvbTSuperFrame;
using vatel::modulate::DvbTSuperFrameMod;
using multicarrier::ConstellationOrder;
using multicarrier::quoted;
using waveform::dvb_t::DvbTFrameParams;
using waveform::dvb_t::DvbTGuard;
using waveform::dvb_t::DvbTSuperFrameParams;
using waveform::dvb_t::NbBandwidth;
using waveform::dvb_t_tps::TpsWord;
namespace dvb_t = waveform::dvb_t;

core::Result<DvbTGuard> parse_guard(std::string_view s) {
  if (auto g = dvb_t::kGuards.parse(s)) return *g;
  return core::error("unknown guard interval " + quoted(s) + " (expected " + dvb_t::kGuards.listed(", ") +
                     ")");
}

core::Result<ConstellationOrder> parse_dvb_t_constellation(std::string_view s) {
  if (auto c = dvb_t::kDvbTConstellations.parse(s)) return *c;
  return core::error("unknown DVB-T constellation " + quoted(s) + " (expected " +
                     dvb_t::kDvbTConstellations.listed(", ") + ")");
}

core::Result<fec::PunctureRate> parse_rate(std::string_view s) {
  if (auto r = fec::frame::kPunctureRates.parse(s)) return *r;
  return core::error("unknown code rate " + quoted(s) + " (expected " + fec::frame::kPunctureRates.listed(", ") +
                     ")");
}

core::Result<NbBandwidth> parse_nb_bandwidth(std::string_view s) {
  if (auto m = dvb_t::kNbBandwidths.parse(s)) return *m;
  return core::error("unknown NB bandwidth " + quoted(s) + " (expected " + dvb_t::kNbBandwidths.listed(", ") +
                     ")");
}

namespace {

// The three keywords every parameter class takes, parsed in this order.
struct Keywords {
  DvbTGuard guard;
  ConstellationOrder constellation;
  fec::PunctureRate code_rate;
};
core::Result<Keywords> parse_keywords(std::string_view guard, std::string_view constellation,
                                      std::string_view code_rate) {
  auto g = parse_guard(guard);
  if (!g) return g.error();
  auto c = parse_dvb_t_constellation(constellation);
  if (!c) return c.error();
  auto r = parse_rate(code_rate);
  if (!r) return r.error();
  return Keywords{g.value(), c.value(), r.value()};
}

core::Result<DvbTFrameParams> new_frame_params(std::string_view guard,
                                               std::string_view constellation,
                                               std::string_view code_rate,
                                               std::uint8_t frame_number, std::uint8_t cell_id) {
  auto k = parse_keywords(guard, constellation, code_rate);
  if (!k) return k.error();
  const Keywords& v = k.value();
  return DvbTFrameParams{v.guard, v.constellation, v.code_rate, frame_number, cell_id};
}

core::Result<DvbTSuperFrameParams> new_super_frame_params(std::string_view guard,
                                                          std::string_view constellation,
                                                          std::string_view code_rate,
                                                          std::uint16_t cell_id) {
  auto k = parse_keywords(guard, constellation, code_rate);
  if (!k) return k.error();
  const Keywords& v = k.value();
  return DvbTSuperFrameParams{cell_id, v.guard, v.constellation, v.code_rate};
}

std::string_view rate_name(fec::PunctureRate r) { return fec::frame::puncture_rate_name(r); }

template <class P>
std::string_view guard_of(const P& p) { return dvb_t::guard_name(p.guard); }
template <class P>
std::string_view constellation_of(const P& p) {
  return dvb_t::dvb_t_constellation_name(p.constellation);
}
template <class P>
std::string_view code_rate_of(const P& p) { return rate_name(p.code_rate); }
template <class P>
std::uint64_t frame_number_of(const P& p) { return p.frame_number; }
template <class P>
std::uint64_t cell_id_of(const P& p) { return p.cell_id; }

std::string frame_params_repr(const DvbTFrameParams& p) {
  return "DvbTFrameParams(guard=" + quoted(guard_of(p)) +
         ", constellation=" + quoted(constellation_of(p)) + ", code_rate=" +
         quoted(code_rate_of(p)) + ", frame_number=" + std::to_string(p.frame_number) +
         ", cell_id=" + std::to_string(p.cell_id) + ")";
}

// A decoded word carries indices; they are in range by decoding.
std::string_view tps_guard(const TpsWord& w) {
  return dvb_t::guard_name(static_cast<DvbTGuard>(w.guard & 3u));
}
std::string_view tps_code_rate(const TpsWord& w) {
  return rate_name(static_cast<fec::PunctureRate>(w.code_rate));
}

std::string tps_repr(const TpsWord& w) {
  return "TpsWord(frame_number=" + std::to_string(w.frame_number) +
         ", constellation=" + quoted(constellation_of(w)) + ", code_rate=" +
         quoted(tps_code_rate(w)) + ", guard=" + quoted(tps_guard(w)) +
         ", cell_id=" + std::to_string(w.cell_id) + ")";
}

// Modulators and their frames.

DvbTFrameMod new_frame_mod(const DvbTFrameParams& params) { return DvbTFrameMod(params); }
core::Result<DvbTFrameMod> frame_with_tx_lowpass(const DvbTFrameMod& m, std::uint64_t num_taps,
                                                 float stopband_db) {
  return m.with_tx_lowpass(num_taps, stopband_db);
}
DvbTFrameMod frame_with_symbol_window(const DvbTFrameMod& m, std::uint64_t roll_off) {
  return m.with_symbol_window(roll_off);
}

DvbTSuperFrameMod new_super_frame_mod(const DvbTSuperFrameParams& params) {
  return DvbTSuperFrameMod(params);
}
core::Result<DvbTSuperFrameMod> super_with_tx_lowpass(const DvbTSuperFrameMod& m,
                                                      std::uint64_t num_taps, float stopband_db) {
  return m.with_tx_lowpass(num_taps, stopband_db);
}
DvbTSuperFrameMod super_with_symbol_window(const DvbTSuperFrameMod& m, std::uint64_t roll_off) {
  return m.with_symbol_window(roll_off);
}

// Every read of iq is a new array of its own.
template <class F>
core::Buffer<cf32> iq_of(const F& f) {
  core::Buffer<cf32> copy(f.iq.size());
  std::copy_n(f.iq.data(), f.iq.size(), copy.data());
  return copy;
}
std::uint64_t frame_symbols(const DvbTFrame& f) { return f.n_symbols; }
template <class F>
std::uint64_t samples_per_symbol_of(const F& f) { return f.samples_per_symbol; }
std::uint64_t super_symbols_per_frame(const DvbTSuperFrame& f) { return f.symbols_per_frame; }
std::uint64_t super_symbols(const DvbTSuperFrame& f) { return 4 * f.symbols_per_frame; }
std::vector<std::uint64_t> super_payload_lens(const DvbTSuperFrame& f) {
  return {f.frame_payload_lens.begin(), f.frame_payload_lens.end()};
}

// Module functions.

core::Result<std::uint64_t> cp_len_function(std::string_view guard) {
  auto g = parse_guard(guard);
  if (!g) return g.error();
  return dvb_t::cp_len(g.value());
}

core::Result<float> fs_function(std::string_view mode) {
  auto m = parse_nb_bandwidth(mode);
  if (!m) return m.error();
  return dvb_t::nb_bandwidth_fs(m.value());
}

core::Result<double> occupied_function(std::string_view mode) {
  auto m = parse_nb_bandwidth(mode);
  if (!m) return m.error();
  return dvb_t::nb_bandwidth_occupied_hz(m.value());
}

std::uint64_t max_backoff_function() { return dvb_t::kMaxRxWindowBackoff; }

std::uint64_t suggested_taps_function(float stopband_db) {
  return dvb_t::tx_lowpass_suggested_taps(stopband_db);
}

std::uint64_t group_delay_function(std::uint64_t num_taps) {
  return dvb_t::tx_lowpass_group_delay(num_taps);
}

core::Result<bool> fits_guard_function(std::string_view guard, std::uint64_t num_taps,
                                       std::uint64_t roll_off, std::uint64_t backoff) {
  auto g = parse_guard(guard);
  if (!g) return g.error();
  return dvb_t::tx_lowpass_fits_guard(g.value(), num_taps, roll_off, backoff);
}

}  // namespace

// The docs below are the user's reference: units, dtypes, lengths and the
// errors of each call (the conventions all calls share head the type stubs).
// DVB-T here is 2K: 2048-point FFT, 1705 active carriers, at any sample rate
// (nb_bandwidth_fs gives the narrow-band ones).

const ClassDefBase& dvb_t_frame_params() {
  static const ClassDef<DvbTFrameParams> def =
      ClassDef<DvbTFrameParams>::make(
          "DvbTFrameParams(guard, constellation, code_rate, frame_number=0, cell_id=0)",
          "The parameters of one DVB-T 2K frame: guard '1/32', '1/16', '1/8' or '1/4', "
          "constellation 'qpsk', 'qam16' or 'qam64', code_rate '1/2', '2/3', '3/4', '5/6' or "
          "'7/8' (all matched exactly), frame_number and cell_id (ints 0 .. 255; TPS sends the "
          "frame number modulo 4). Raises ValueError \"unknown guard interval ...\" (or "
          "constellation, code rate) and OverflowError for a number out of range.")
          .init<&new_frame_params>()
          .prop<&guard_of<DvbTFrameParams>>("guard", "The guard interval (str, e.g. '1/4').")
          .prop<&constellation_of<DvbTFrameParams>>("constellation",
                                                    "The constellation (str, e.g. 'qam16').")
          .prop<&code_rate_of<DvbTFrameParams>>("code_rate", "The code rate (str, e.g. '2/3').")
          .prop<&frame_number_of<DvbTFrameParams>>("frame_number", "The frame number (int).")
          .prop<&cell_id_of<DvbTFrameParams>>("cell_id", "The cell-id byte (int).")
          .repr<&frame_params_repr>();
  return def;
}

const ClassDefBase& tps_word() {
  static const ClassDef<TpsWord> def =
      ClassDef<TpsWord>::make("TpsWord",
                              "The parameters decoded from a received frame's TPS carriers "
                              "(DvbTRxFrame.tps); the class cannot be instantiated.")
          .prop<&tps_guard>("guard", "The guard interval (str, e.g. '1/4').")
          .prop<&constellation_of<TpsWord>>("constellation", "The constellation (str).")
          .prop<&tps_code_rate>("code_rate", "The code rate (str).")
          .prop<&frame_number_of<TpsWord>>("frame_number",
                                           "The frame number within its super-frame (int 0 .. 3).")
          .prop<&cell_id_of<TpsWord>>("cell_id", "The cell-id byte (int).")
          .repr<&tps_repr>();
  return def;
}

const ClassDefBase& dvb_t_frame() {
  static const ClassDef<DvbTFrame> def =
      ClassDef<DvbTFrame>::make("DvbTFrame",
                                "One modulated DVB-T frame without preamble, made by "
                                "DvbTFrameMod.modulate; the class cannot be instantiated.")
          .prop<&iq_of<DvbTFrame>>("iq",
                                   "The frame's n_symbols * samples_per_symbol samples (a new "
                                   "complex64 array at every read).")
          .prop<&frame_symbols>("n_symbols",
                                "OFDM symbols in the frame (int, at least 68); the receiver "
                                "needs it.")
          .prop<&samples_per_symbol_of<DvbTFrame>>("samples_per_symbol",
                                                   "Samples per symbol (int): 2048 + cp_len.");
  return def;
}

const ClassDefBase& dvb_t_frame_mod() {
  static const ClassDef<DvbTFrameMod> def =
      ClassDef<DvbTFrameMod>::make(
          "DvbTFrameMod(params)",
          "DVB-T 2K frame modulator for the DvbTFrameParams params (copied): the payload in "
          "188-byte transport-stream packets, energy dispersal, Reed-Solomon (204, 188), the "
          "12 x 17 convolutional interleaver and the punctured K=7 code, pilots and TPS, in "
          "at least 68 symbols at complex baseband.")
          .init<&new_frame_mod>()
          .def<&DvbTFrameMod::modulate>("modulate($self, payload)",
                                        "Modulates payload (uint8 array of any length) into one "
                                        "DvbTFrame; the receiver needs its n_symbols and "
                                        "len(payload).")
          .def<&frame_with_tx_lowpass>(
              "with_tx_lowpass($self, num_taps, stopband_db=60.0)",
              "A new modulator with a transmit low-pass of num_taps taps (int) and stopband_db "
              "dB run over each frame. Raises ValueError \"DvbTFrameMod.with_tx_lowpass: "
              "num_taps must be at most 4097 ...\".")
          .def<&frame_with_symbol_window>("with_symbol_window($self, roll_off)",
                                          "A new modulator that tapers every symbol's edges "
                                          "over roll_off samples (int; 0: off).");
  return def;
}

const ClassDefBase& dvb_t_super_frame() {
  static const ClassDef<DvbTSuperFrame> def =
      ClassDef<DvbTSuperFrame>::make("DvbTSuperFrame",
                                     "Four modulated DVB-T frames without preamble, made by "
                                     "DvbTSuperFrameMod.modulate; the class cannot be "
                                     "instantiated.")
          .prop<&iq_of<DvbTSuperFrame>>("iq",
                                        "Frames 0 to 3 back to back (a new complex64 array at "
                                        "every read).")
          .prop<&super_symbols_per_frame>("symbols_per_frame",
                                          "OFDM symbols in each frame (int); the receiver needs "
                                          "it.")
          .prop<&samples_per_symbol_of<DvbTSuperFrame>>("samples_per_symbol",
                                                        "Samples per symbol (int): 2048 + "
                                                        "cp_len.")
          .prop<&super_symbols>("n_symbols", "OFDM symbols in all (int): 4 * symbols_per_frame.")
          .prop<&super_payload_lens>("frame_payload_lens",
                                     "The payload bytes that frames 0 to 3 carry, before zero "
                                     "fill (a list of four ints); the receiver needs it.");
  return def;
}

const ClassDefBase& dvb_t_super_frame_mod() {
  static const ClassDef<DvbTSuperFrameMod> def =
      ClassDef<DvbTSuperFrameMod>::make(
          "DvbTSuperFrameMod(params)",
          "DVB-T super-frame modulator for the DvbTSuperFrameParams params (copied): one payload "
          "split over frames 0 to 3 of equal symbol count, the cell id's high byte in the TPS of "
          "frames 0 and 2, its low byte in frames 1 and 3.")
          .init<&new_super_frame_mod>()
          .def<&DvbTSuperFrameMod::modulate>("modulate($self, payload)",
                                             "Modulates payload (uint8 array of any length) into "
                                             "one DvbTSuperFrame of four frames.")
          .def<&super_with_tx_lowpass>(
              "with_tx_lowpass($self, num_taps, stopband_db=60.0)",
              "A new modulator with a transmit low-pass of num_taps taps (int) run once over the "
              "four frames. Raises ValueError \"DvbTSuperFrameMod.with_tx_lowpass: num_taps "
              "must be at most 4097 ...\".")
          .def<&super_with_symbol_window>("with_symbol_window($self, roll_off)",
                                          "A new modulator that tapers every symbol of every "
                                          "frame over roll_off samples (int; 0: off).");
  return def;
}

const ClassDefBase& dvb_t_super_frame_params() {
  static const ClassDef<DvbTSuperFrameParams> def =
      ClassDef<DvbTSuperFrameParams>::make(
          "DvbTSuperFrameParams(guard, constellation, code_rate, cell_id=0)",
          "The parameters of a DVB-T super-frame of four frames: guard, constellation and "
          "code_rate as for DvbTFrameParams, and a 16-bit cell_id (int 0 .. 65535) split over "
          "the frames' TPS. Raises ValueError for an unknown keyword and OverflowError for a "
          "cell_id out of range.")
          .init<&new_super_frame_params>()
          .prop<&guard_of<DvbTSuperFrameParams>>("guard", "The guard interval (str).")
          .prop<&constellation_of<DvbTSuperFrameParams>>("constellation",
                                                         "The constellation (str).")
          .prop<&code_rate_of<DvbTSuperFrameParams>>("code_rate", "The code rate (str).")
          .prop<&cell_id_of<DvbTSuperFrameParams>>("cell_id", "The 16-bit cell id (int).");
  return def;
}

// Receivers.

namespace {

using ::vatel::demodulate::dvb_t_frame::DvbTFrameDemod;
using ::vatel::demodulate::dvb_t_frame::DvbTRxError;
using ::vatel::demodulate::dvb_t_frame::DvbTRxFrame;
using ::vatel::demodulate::dvb_t_frame::DvbTRxOutcome;
using ::vatel::demodulate::dvb_t_stream::DvbTFrameStreamDemod;
using ::vatel::demodulate::dvb_t_super_frame::DvbTSuperFrameDemod;

PyDvbTRxFrame python_frame(DvbTRxFrame&& f) { return {std::move(f.payload), f.tps}; }

Bytes rx_frame_payload(const PyDvbTRxFrame& f) { return {f.payload}; }
TpsWord rx_frame_tps(const PyDvbTRxFrame& f) { return f.tps; }
Bytes rx_super_frame_payload(const PyDvbTRxSuperFrame& f) { return {f.payload}; }
std::uint64_t rx_super_frame_cell_id(const PyDvbTRxSuperFrame& f) { return f.cell_id; }

DvbTFrameDemod new_frame_demod(const DvbTFrameParams& params) { return DvbTFrameDemod(params); }

core::Result<PyDvbTRxFrame> frame_decode(const DvbTFrameDemod& d, std::span<const cf32> iq,
                                         std::uint64_t n_symbols, std::uint64_t payload_len) {
  DvbTRxOutcome r = d.decode(iq, n_symbols, payload_len);
  if (auto* e = std::get_if<DvbTRxError>(&r))
    return core::error(std::string(::vatel::demodulate::dvb_t_frame::display_text(*e)));
  return python_frame(std::get<DvbTRxFrame>(std::move(r)));
}

template <class D>
D with_integer_cfo_correction(const D& d, bool on) { return d.with_integer_cfo_correction(on); }
template <class D>
D with_rx_window_backoff(const D& d, std::uint64_t backoff) {
  return d.with_rx_window_backoff(backoff);
}
template <class D>
bool integer_cfo_correction_of(const D& d) { return d.integer_cfo_correction(); }
template <class D>
std::uint64_t rx_window_backoff_of(const D& d) { return d.rx_window_backoff(); }

DvbTSuperFrameDemod new_super_frame_demod(const DvbTSuperFrameParams& params) {
  return DvbTSuperFrameDemod(params);
}

core::Result<PyDvbTRxSuperFrame> super_frame_decode(const DvbTSuperFrameDemod& d,
                                                    std::span<const cf32> iq,
                                                    std::uint64_t symbols_per_frame,
                                                    const std::array<std::uint64_t, 4>& lens) {
  auto r = d.decode(iq, symbols_per_frame, lens);
  if (!r) return r.error();
  return PyDvbTRxSuperFrame{std::move(r.value().payload), r.value().cell_id};
}

core::Result<DvbTFrameStreamDemod> new_stream(const DvbTFrameParams& params,
                                              std::uint64_t n_symbols, std::uint64_t payload_len,
                                              bool integer_cfo_correction,
                                              std::uint64_t rx_window_backoff) {
  return DvbTFrameStreamDemod::create(params, n_symbols, payload_len, integer_cfo_correction,
                                      rx_window_backoff);
}

std::vector<PyDvbTRxFrame> frames_only(std::vector<DvbTRxOutcome>&& outcomes) {
  std::vector<PyDvbTRxFrame> frames;
  for (DvbTRxOutcome& o : outcomes)
    if (auto* f = std::get_if<DvbTRxFrame>(&o)) frames.push_back(python_frame(std::move(*f)));
  return frames;
}

using Attempt = std::pair<std::optional<PyDvbTRxFrame>, std::optional<std::string>>;

std::vector<PyDvbTRxFrame> stream_feed(DvbTFrameStreamDemod& s, std::span<const cf32> iq) {
  return frames_only(s.feed(iq));
}

std::vector<Attempt> stream_feed_with_errors(DvbTFrameStreamDemod& s, std::span<const cf32> iq) {
  std::vector<Attempt> attempts;
  for (DvbTRxOutcome& o : s.feed(iq)) {
    Attempt& a = attempts.emplace_back();
    if (auto* f = std::get_if<DvbTRxFrame>(&o))
      a.first = python_frame(std::move(*f));
    else
      a.second = std::string(::vatel::demodulate::dvb_t_frame::display_text(std::get<DvbTRxError>(o)));
  }
  return attempts;
}

std::vector<PyDvbTRxFrame> stream_flush(DvbTFrameStreamDemod& s) { return frames_only(s.flush()); }
void stream_clear(DvbTFrameStreamDemod& s) { s.clear(); }
std::uint64_t stream_buffered(const DvbTFrameStreamDemod& s) { return s.buffered(); }

}  // namespace

const ClassDefBase& dvb_t_rx_frame() {
  static const ClassDef<PyDvbTRxFrame> def =
      ClassDef<PyDvbTRxFrame>::make("DvbTRxFrame",
                                    "A received DVB-T frame, made by the DVB-T receivers; the "
                                    "class cannot be instantiated.")
          .prop<&rx_frame_payload>("payload", "The decoded payload (bytes).")
          .prop<&rx_frame_tps>("tps", "The TPS word decoded from the frame (a new TpsWord).");
  return def;
}

const ClassDefBase& dvb_t_frame_demod() {
  static const ClassDef<DvbTFrameDemod> def =
      ClassDef<DvbTFrameDemod>::make(
          "DvbTFrameDemod(params)",
          "DVB-T 2K frame demodulator for the DvbTFrameParams params (only guard, constellation "
          "and code rate are used): guard-interval acquisition, per-symbol pilot equalisation, "
          "TPS decoding and the fixed DVB-T decoding chain. No fractional frequency "
          "correction.")
          .init<&new_frame_demod>()
          .def<&frame_decode>(
              "decode($self, iq, n_symbols, payload_len)",
              "The DvbTRxFrame of the frame in iq (complex64 array) of n_symbols symbols carrying "
              "payload_len payload bytes (ints, known from the sender). Raises ValueError "
              "\"guard-interval acquisition failed (buffer too short or no CP lock)\", \"too "
              "few samples for the expected frame\", \"TPS word failed to decode (BCH "
              "uncorrectable)\" or \"payload FEC/CRC decode failed\".")
          .def<&with_integer_cfo_correction<DvbTFrameDemod>>(
              "with_integer_cfo_correction($self, on)",
              "A new demodulator that, with on True, first finds and removes a whole-carrier "
              "frequency offset of -32 .. 32 carriers.")
          .def<&with_rx_window_backoff<DvbTFrameDemod>>(
              "with_rx_window_backoff($self, backoff)",
              "A new demodulator whose FFT window starts backoff samples early (int; more than "
              "cp_len acts as cp_len).")
          .prop<&integer_cfo_correction_of<DvbTFrameDemod>>("integer_cfo_correction",
                                                            "Whether the whole-carrier offset "
                                                            "search runs (bool).")
          .prop<&rx_window_backoff_of<DvbTFrameDemod>>("rx_window_backoff",
                                                       "The FFT-window back-off in samples "
                                                       "(int).");
  return def;
}

const ClassDefBase& dvb_t_rx_super_frame() {
  static const ClassDef<PyDvbTRxSuperFrame> def =
      ClassDef<PyDvbTRxSuperFrame>::make("DvbTRxSuperFrame",
                                         "A received DVB-T super-frame, made by "
                                         "DvbTSuperFrameDemod.decode; the class cannot be "
                                         "instantiated.")
          .prop<&rx_super_frame_payload>("payload",
                                         "The four frames' payloads concatenated (bytes).")
          .prop<&rx_super_frame_cell_id>("cell_id",
                                         "The 16-bit cell id (int), from the TPS of frames 2 and "
                                         "3.");
  return def;
}

const ClassDefBase& dvb_t_super_frame_demod() {
  static const ClassDef<DvbTSuperFrameDemod> def =
      ClassDef<DvbTSuperFrameDemod>::make(
          "DvbTSuperFrameDemod(params)",
          "DVB-T super-frame demodulator for the DvbTSuperFrameParams params: decodes frames 0 "
          "to 3 with the frame demodulator, checks their frame numbers and joins their "
          "payloads.")
          .init<&new_super_frame_demod>()
          .def<&super_frame_decode>(
              "decode($self, iq, symbols_per_frame, frame_payload_lens)",
              "The DvbTRxSuperFrame in iq (complex64 array), given symbols_per_frame (int) and "
              "frame_payload_lens (a sequence of four ints) as the DvbTSuperFrame reports them. "
              "Raises ValueError \"super-frame: too few samples for four frames\", \"super-frame: "
              "frame {i} failed: {reason}\" or \"super-frame: frame numbers out of sequence "
              "...\", and ValueError \"expected a sequence of length 4 (got {n})\".")
          .def<&with_integer_cfo_correction<DvbTSuperFrameDemod>>(
              "with_integer_cfo_correction($self, on)",
              "A new demodulator that, with on True, first removes a whole-carrier offset in "
              "every frame.")
          .def<&with_rx_window_backoff<DvbTSuperFrameDemod>>(
              "with_rx_window_backoff($self, backoff)",
              "A new demodulator whose FFT window starts backoff samples early (int).")
          .prop<&integer_cfo_correction_of<DvbTSuperFrameDemod>>("integer_cfo_correction",
                                                                 "Whether the whole-carrier "
                                                                 "offset search runs (bool).")
          .prop<&rx_window_backoff_of<DvbTSuperFrameDemod>>("rx_window_backoff",
                                                            "The FFT-window back-off in "
                                                            "samples (int).");
  return def;
}

const ClassDefBase& dvb_t_frame_stream_demod() {
  static const ClassDef<DvbTFrameStreamDemod> def =
      ClassDef<DvbTFrameStreamDemod>::make(
          "DvbTFrameStreamDemod(params, n_symbols, payload_len, integer_cfo_correction=False, "
          "rx_window_backoff=0)",
          "DVB-T stream receiver for back-to-back frames of the DvbTFrameParams params, each of "
          "n_symbols symbols carrying payload_len bytes (ints), fed IQ in pieces of any size; a "
          "frame is decoded once a further symbol period has arrived. Raises ValueError "
          "\"n_symbols must be at least 1\".")
          .init<&new_stream>()
          .def<&stream_feed>("feed($self, iq)",
                             "Appends iq (complex64 array) and returns the DvbTRxFrames decoded "
                             "(a list, often empty); failed frames are dropped, their samples "
                             "consumed.")
          .def<&stream_feed_with_errors>(
              "feed_with_errors($self, iq)",
              "As feed, with one pair per decode attempt: (frame, None), or (None, text) with "
              "the DvbTFrameDemod.decode error text.")
          .def<&stream_flush>("flush($self)",
                              "Decodes what the buffer holds now, adding nothing, and returns the "
                              "DvbTRxFrames as feed does.")
          .def<&stream_clear>("clear($self)", "Forgets every buffered sample.")
          .prop<&stream_buffered>("buffered", "The number of samples held (int).")
          .prop<&rx_window_backoff_of<DvbTFrameStreamDemod>>("rx_window_backoff",
                                                             "The FFT-window back-off in samples "
                                                             "(int).")
          .prop<&integer_cfo_correction_of<DvbTFrameStreamDemod>>("integer_cfo_correction",
                                                                  "Whether the whole-carrier "
                                                                  "offset search runs (bool).");
  return def;
}

namespace {

const FunctionDef& nb_bandwidth_fs_def() {
  static const FunctionDef def = FunctionDef::make<&fs_function>(
      "nb_bandwidth_fs(mode)",
      "The sample rate (float, samples per second) of the narrow-band mode '333khz', '1mhz' or "
      "'2mhz' (also '333k', '1m', '2m'): the occupied bandwidth x 2048 / 1705. Raises "
      "ValueError \"unknown NB bandwidth ...\".");
  return def;
}
const FunctionDef& nb_bandwidth_occupied_hz_def() {
  static const FunctionDef def = FunctionDef::make<&occupied_function>(
      "nb_bandwidth_occupied_hz(mode)",
      "The occupied bandwidth in Hz (float) of the narrow-band mode '333khz', '1mhz' or '2mhz' "
      "(also '333k', '1m', '2m'). Raises ValueError \"unknown NB bandwidth ...\".");
  return def;
}
const FunctionDef& dvb_t_cp_len_def() {
  static const FunctionDef def = FunctionDef::make<&cp_len_function>(
      "dvb_t_cp_len(guard)",
      "The cyclic-prefix length in samples (int: 64, 128, 256 or 512) of the guard '1/32', "
      "'1/16', '1/8' or '1/4'. Raises ValueError \"unknown guard interval ...\".");
  return def;
}
const FunctionDef& dvb_t_max_rx_window_backoff_def() {
  static const FunctionDef def = FunctionDef::make<&max_backoff_function>(
      "dvb_t_max_rx_window_backoff()",
      "The largest recommended receive-window back-off in samples (int, 85); the receivers "
      "themselves only limit a back-off to cp_len.");
  return def;
}
const FunctionDef& dvb_t_tx_lowpass_suggested_taps_def() {
  static const FunctionDef def = FunctionDef::make<&suggested_taps_function>(
      "dvb_t_tx_lowpass_suggested_taps(stopband_db=60.0)",
      "A Kaiser estimate (odd int, at least 11) of the taps a DVB-T transmit low-pass needs for "
      "stopband_db dB between the last active carrier and half the sample rate: 45 for 60 "
      "dB.");
  return def;
}
const FunctionDef& dvb_t_tx_lowpass_group_delay_def() {
  static const FunctionDef def = FunctionDef::make<&group_delay_function>(
      "dvb_t_tx_lowpass_group_delay(num_taps)",
      "The delay in samples (int) of a transmit low-pass of num_taps taps: 1 below 4 taps, else "
      "num_taps // 2.");
  return def;
}
const FunctionDef& dvb_t_tx_lowpass_fits_guard_def() {
  static const FunctionDef def = FunctionDef::make<&fits_guard_function>(
      "dvb_t_tx_lowpass_fits_guard(guard, num_taps, roll_off, backoff)",
      "True when roll_off (the taper, samples) plus the low-pass delay of num_taps taps fit on "
      "both sides of a receive window backed off by backoff samples into the prefix of the "
      "guard ('1/32' .. '1/4'). Raises ValueError for an unknown guard.");
  return def;
}

}  // namespace

bool register_module(PyObject* module) {
  // The registration order: frame classes, then super-frame classes, then
  // the stream receiver, then the functions.
  return add_class(module, dvb_t_frame_params()) && add_class(module, dvb_t_frame()) &&
         add_class(module, dvb_t_rx_frame()) && add_class(module, tps_word()) &&
         add_class(module, dvb_t_frame_mod()) && add_class(module, dvb_t_frame_demod()) &&
         add_class(module, dvb_t_super_frame_params()) && add_class(module, dvb_t_super_frame()) &&
         add_class(module, dvb_t_rx_super_frame()) && add_class(module, dvb_t_super_frame_mod()) &&
         add_class(module, dvb_t_super_frame_demod()) &&
         add_class(module, dvb_t_frame_stream_demod()) &&
         add_function(module, nb_bandwidth_fs_def()) &&
         add_function(module, nb_bandwidth_occupied_hz_def()) &&
         add_function(module, dvb_t_cp_len_def()) &&
         add_function(module, dvb_t_max_rx_window_backoff_def()) &&
         add_function(module, dvb_t_tx_lowpass_suggested_taps_def()) &&
         add_function(module, dvb_t_tx_lowpass_group_delay_def()) &&
         add_function(module, dvb_t_tx_lowpass_fits_guard_def());
}

}  // namespace dvb_t_frame
}  // namespace vatel::python
