#include "demodulate/ofdm_frame_stream.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "demodulate/ofdm_frame_section.hpp"
#include "sync/cp_offset.hpp"

namespace vatel::demodulate::ofdm_frame {

core::Result<OfdmFrameStreamDemod> OfdmFrameStreamDemod::create(const OfdmConfig& cfg,
                                                                std::vector<Mcs> table,
                                                                std::size_t num_repeats,
                                                                std::size_t repeat_len,
                                                                std::shared_ptr<fec::CodecCache> cache) {
  auto link = waveform::ofdm_frame::FrameLink::create(cfg, std::move(table), std::move(cache));
  if (!link) return link.error();
  OfdmFrameStreamDemod d;
  d.link_ = std::move(link).value();
  d.segments_ = waveform::ofdm_frame::frame_preamble(cfg, num_repeats, repeat_len);
  // The search correlates adjacent repetitions: without two of them no
  // frame could ever be found.
  if (num_repeats < 2 || repeat_len == 0)
    return core::error("OfdmFrameStreamDemod: the preamble needs num_repeats >= 2 and "
                       "repeat_len >= 1 (got num_repeats = " + std::to_string(num_repeats) +
                       ", repeat_len = " + std::to_string(repeat_len) + ")");
  d.segments_.with_training_symbol.reset();
  d.fs_ = cfg.fs;
  d.symbol_ = cfg.samples_per_ofdm_symbol();
  d.span_ = core::checked_add(core::checked_mul(num_repeats, repeat_len, "preamble length"),
                              d.symbol_, "preamble length");
  d.header_symbols_ = cfg.header_format == fec::HeaderFormat::VatelSdr
                          ? header_symbols(cfg, *d.link_.cache)
                          : 0;
  d.screen_ = sync::PreambleScreen(num_repeats, repeat_len);
  d.integer_cfo_.emplace(cfg.plan.n_fft, cfg.plan.cp_len);
  d.smoother_ = multicarrier::TrainingSmoother(cfg.plan);
  return d;
}

void OfdmFrameStreamDemod::clear() noexcept {
  buffer_.clear();
  wait_for_ = 0;
}

std::vector<StreamResult> OfdmFrameStreamDemod::feed(std::span<const cf32> iq) {
  buffer_.append(iq);
  return flush();
}

std::optional<std::size_t> OfdmFrameStreamDemod::earliest_preamble(std::span<const cf32> buf) {
  // Positions d with d + A <= length can be judged now, and their scores
  // will not change with more samples.
  const std::size_t end = buf.size() - span_ + 1;
  for (std::size_t scan = 0; scan < end;) {
    const auto hit = screen_.first(buf, scan, end, score_threshold);
    if (!hit) break;
    const auto exact = sync::ofdm_sync::ofdm_sync(buf, fs_, segments_, *hit, *hit + 1);
    if (!exact.empty() && exact.front().score >= score_threshold) return *hit;
    scan = *hit + 1;
  }
  return std::nullopt;
}

void OfdmFrameStreamDemod::derotate(std::span<const cf32> buf, std::size_t t, std::size_t upto) {
  // Only the samples the next decode step reads are turned; the rotator
  // runs on from the previous step of the same frame.
  const std::size_t have = tail_.size();
  if (upto <= have) return;
  tail_.insert(tail_.end(), buf.begin() + static_cast<std::ptrdiff_t>(t + have),
               buf.begin() + static_cast<std::ptrdiff_t>(t + upto));
  // A gain of exactly 1 leaves each product as it is.
  dsp::mix_kernel(derotator_, tail_.data() + have, tail_.data() + have, upto - have, 1.0f);
}

OfdmFrameStreamDemod::Step OfdmFrameStreamDemod::decode_at(std::span<const cf32> buf,
                                                           std::size_t earliest) {
  const std::size_t A = span_;
  const std::size_t n = buf.size();
  // Among the starts on the earliest preamble, the best ranked one.
  const std::size_t last = std::min(earliest + A, n - A + 1);
  const auto ranked = sync::ofdm_sync::ofdm_sync(buf, fs_, segments_, earliest, last);
  const sync::ofdm_sync::OfdmSyncResult* chosen = nullptr;
  for (const auto& c : ranked)
    if (c.score >= score_threshold) {
      chosen = &c;
      break;
    }
  VATEL_ENSURE(chosen != nullptr, "the earliest preamble vanished from its own window");
  const std::size_t t = chosen->start_sample;
  // The integer offset of this very start (the full search estimates it
  // only for its best ranked few).
  const std::size_t segments = A - symbol_;
  const std::int32_t bins =
      integer_cfo_->estimate(buf.subspan(t + segments, symbol_), chosen->cfo_hz, fs_);
  float f = chosen->cfo_hz + static_cast<float>(bins) * (fs_ / static_cast<float>(link_.cfg.plan.n_fft));

  const std::size_t S = symbol_;
  const std::size_t header_end = std::min(n - t, A + header_symbols_ * S);
  // What the short repetitions leave of the offset turns the phase on
  // through every symbol.  The prefixes of the training symbol and the
  // header measure the offset far better, though only within a carrier
  // spacing: the correction is the part of their measure that differs from
  // the estimate so far, brought into half a spacing either side.
  const std::size_t known = (header_end - segments) / S;
  const float step = sync::cyclic_prefix_phase_step(buf.subspan(t + segments, known * S),
                                                    link_.cfg.plan.n_fft, link_.cfg.plan.cp_len, known);
  if (step != 0.0f) {
    const float spacing = fs_ / static_cast<float>(link_.cfg.plan.n_fft);
    const float measured = step * (fs_ / dsp::kTwoPi);
    const float residual = std::remainder(measured - f, spacing);
    if (std::isfinite(residual)) f = f + residual;
  }
  tail_.clear();
  derotator_ = dsp::Rotator(-f, fs_);
  derotate(buf, t, header_end);
  section::prepare(link_.cfg, scratch_.work);
  multicarrier::SymbolFft& fft = *scratch_.work.fft;
  fft.process(std::span<const cf32>(tail_).subspan(segments, S));
  std::vector<cf32> spectrum(fft.spectrum().begin(), fft.spectrum().end());
  smoother_.smooth(spectrum);

  const std::span<const cf32> body = std::span<const cf32>(tail_).subspan(A);
  HeaderOutcome h = decode_frame_header(link_.cfg, link_.mcs_table, body, spectrum, *link_.cache, scratch_);
  if (auto* i = std::get_if<Incomplete>(&h)) return Step{std::nullopt, 0, t + A + i->samples_needed};
  // A failed frame's preamble goes; its symbols are searched again.
  if (auto* e = std::get_if<fec::RxError>(&h)) return Step{*e, t + A, 0};
  const HeaderStage& stage = std::get<HeaderStage>(h);
  const std::uint64_t frame = stage.samples(link_.cfg);
  if (frame > n - t - A) return Step{std::nullopt, 0, t + A + frame};
  derotate(buf, t, A + frame);
  FrameOutcome r = decode_frame_payload(link_.cfg, stage, std::span<const cf32>(tail_).subspan(A), true,
                                        *link_.cache, measure_pre_fec, scratch_);
  if (auto* e = std::get_if<fec::RxError>(&r)) return Step{*e, t + A, 0};
  VATEL_ENSURE(std::holds_alternative<FrameBody>(r), "a complete frame decoded as incomplete");
  RxFrame out;
  static_cast<FrameBody&>(out) = std::move(std::get<FrameBody>(r));
  out.cfo_hz = f;
  out.timing_offset_samples = static_cast<std::int32_t>(t);
  out.sync_score = chosen->score;
  // The equaliser keeps the estimate it formed from the training symbol.
  if (estimate_channel) out.channel_estimate = scratch_.work.equalizer->channel;
  const std::size_t used = out.samples_used;
  return Step{std::move(out), t + A + used, 0};
}

std::vector<StreamResult> OfdmFrameStreamDemod::flush() {
  std::vector<StreamResult> results;
  // A frame that is still incomplete is not searched for again before the
  // samples it needs have arrived.
  if (wait_for_ != 0 && buffer_.size() < wait_for_) return results;
  wait_for_ = 0;
  while (buffer_.size() >= span_ + symbol_) {
    const std::span<const cf32> buf = buffer_.view();
    const auto earliest = earliest_preamble(buf);
    if (!earliest) {
      // None of the starts judged can ever start a frame: those samples go.
      buffer_.consume(buf.size() - span_ + 1);
      break;
    }
    Step step = decode_at(buf, *earliest);
    if (!step.result) {
      // Nothing before the earliest preamble can start a frame any more.
      wait_for_ = step.wait_for - *earliest;
      buffer_.consume(*earliest);
      break;
    }
    buffer_.consume(step.consumed);
    results.push_back(std::move(*step.result));
  }
  return results;
}

}  // namespace vatel::demodulate::ofdm_frame
