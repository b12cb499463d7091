// The true peak of a stream of frames: the largest magnitude of the signal
// oversampled through a windowed-sinc interpolator (4 times below 96 kHz,
// twice below 192 kHz, not at all above), or of the samples themselves where
// that is larger. The arithmetic is that of the loudness library's own
// meter - single-precision input, double-precision sums in tap order,
// single-precision output - so both agree to the bit; but it runs over whole
// stretches of frames, which lets the compiler vectorise it.
#pragma once

#include <vector>

namespace sorvan {

class TruePeakMeter {
 public:
  TruePeakMeter(int channels, unsigned long sampleRate);

  // Interleaved frames, full scale 1.0.
  void add(const double* frames, long n);
  // The largest magnitude so far (linear) of one channel.
  double peak(int channel) const;

 private:
  static constexpr long kStretch = 1024;
  static constexpr long kSegment = 64;  // outputs the peak's bound is taken over

  struct Phase {
    std::vector<double> coeff;
    std::vector<int> back;  // how many inputs before the newest each tap reads
  };
  struct Channel {
    std::vector<float> history;  // the last inputs, oldest first
    double samplePeak = 0.0;
    double interpolatedPeak = 0.0;
  };

  void addStretch(const double* frames, long n);
  static double walk(const double* x, long from, long to, const Phase& p, double peak);

  int channels_;
  int factor_ = 1;
  int history_ = 0;  // earlier inputs an output needs
  std::vector<Phase> phases_;
  double gain_ = 0.0;  // the largest sum of tap magnitudes of a phase, and a margin
  std::vector<Channel> channel_;
  std::vector<double> input_;  // history then the stretch, one channel, as single-precision values
};

// The interpolator's walk over one phase: the largest |(float) sum| over n
// outputs (n a multiple of 4), at least `peak`; output i sums
// x[i - back[t]] * coeff[t] over the taps. Four outputs at a time for the
// baseline processor and AVX2, eight for AVX-512; the same bits either way.
double phasePeakFour(const double* x, long n, const double* coeff, const int* back, int taps,
                     double peak);
double phasePeakAvx512(const double* x, long n, const double* coeff, const int* back, int taps,
                       double peak);

}  // namespace sorvan
