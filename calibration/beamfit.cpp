// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/beamfit.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_multifit_nlinear.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

namespace {

// exp(-4 ln 2 x^2 / w^2) is one half at x = w/2.
const double halfPowerK = 4.0 * std::log(2.0);

enum Parameter { Baseline, Peak, Centre, Width, Parameters };

int residuals(const gsl_vector *x, void *data, gsl_vector *f)
{
    const auto &points = *static_cast<const QList<CutPoint> *>(data);
    const double b = gsl_vector_get(x, Baseline), a = gsl_vector_get(x, Peak);
    const double c = gsl_vector_get(x, Centre), w = gsl_vector_get(x, Width);
    for (qsizetype i = 0; i < points.size(); ++i) {
        const double d = points[i].offsetDeg - c;
        gsl_vector_set(f, size_t(i), b + a * std::exp(-halfPowerK * d * d / (w * w)) - points[i].level);
    }
    return GSL_SUCCESS;
}

int jacobian(const gsl_vector *x, void *data, gsl_matrix *j)
{
    const auto &points = *static_cast<const QList<CutPoint> *>(data);
    const double a = gsl_vector_get(x, Peak), c = gsl_vector_get(x, Centre), w = gsl_vector_get(x, Width);
    for (qsizetype i = 0; i < points.size(); ++i) {
        const double d = points[i].offsetDeg - c;
        const double g = std::exp(-halfPowerK * d * d / (w * w));
        gsl_matrix_set(j, size_t(i), Baseline, 1.0);
        gsl_matrix_set(j, size_t(i), Peak, g);
        gsl_matrix_set(j, size_t(i), Centre, a * g * 2.0 * halfPowerK * d / (w * w));
        gsl_matrix_set(j, size_t(i), Width, a * g * 2.0 * halfPowerK * d * d / (w * w * w));
    }
    return GSL_SUCCESS;
}

struct Workspace {
    void operator()(gsl_multifit_nlinear_workspace *w) const { gsl_multifit_nlinear_free(w); }
    void operator()(gsl_vector *v) const { gsl_vector_free(v); }
    void operator()(gsl_matrix *m) const { gsl_matrix_free(m); }
};

std::optional<BeamFit> refuse(QString *problem, const QString &why)
{
    if (problem)
        *problem = why;
    return std::nullopt;
}

} // namespace

std::optional<BeamFit> fitBeam(const QList<CutPoint> &unsorted, QString *problem)
{
    constexpr qsizetype fewest = 2 * Parameters;
    if (unsorted.size() < fewest)
        return refuse(problem, QStringLiteral("%1 levels on the cut, %2 at least needed").arg(unsorted.size()).arg(fewest));
    for (const CutPoint &point : unsorted)
        if (!std::isfinite(point.offsetDeg) || !std::isfinite(point.level))
            return refuse(problem, QStringLiteral("a level that is not a number"));
    QList<CutPoint> points = unsorted;
    std::sort(points.begin(), points.end(), [](const CutPoint &a, const CutPoint &b) { return a.offsetDeg < b.offsetDeg; });
    const qsizetype n = points.size();
    const double span = points.last().offsetDeg - points.first().offsetDeg;

    // A start the fit can hardly miss: the baseline from the lowest quarter,
    // the peak where three neighbours together are highest, the width where
    // they fall to half of it.
    QList<double> levels;
    for (const CutPoint &point : points)
        levels.append(point.level);
    QList<double> lowest = levels;
    std::sort(lowest.begin(), lowest.end());
    const qsizetype quarter = qMax<qsizetype>(2, n / 4);
    const double baseline0 = std::accumulate(lowest.cbegin(), lowest.cbegin() + quarter, 0.0) / double(quarter);
    QList<double> smooth(n);
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype from = qMax<qsizetype>(0, i - 1), to = qMin(n - 1, i + 1);
        smooth[i] = std::accumulate(levels.cbegin() + from, levels.cbegin() + to + 1, 0.0) / double(to - from + 1);
    }
    const qsizetype top = std::max_element(smooth.cbegin(), smooth.cend()) - smooth.cbegin();
    const double peak0 = smooth[top] - baseline0;
    if (!(peak0 > 0))
        return refuse(problem, QStringLiteral("no peak on the cut"));
    const auto halfWay = [&](int direction) -> std::optional<double> {
        for (qsizetype i = top; i + direction >= 0 && i + direction < n; i += direction) {
            const double here = smooth[i] - baseline0, next = smooth[i + direction] - baseline0;
            if (next <= peak0 / 2) {
                const double t = (here - peak0 / 2) / (here - next);
                const double x = points[i].offsetDeg + t * (points[i + direction].offsetDeg - points[i].offsetDeg);
                return std::abs(x - points[top].offsetDeg);
            }
        }
        return std::nullopt;
    };
    const auto left = halfWay(-1), right = halfWay(+1);
    const double width0 = left && right ? *left + *right : 2 * left.value_or(right.value_or(span / 8));

    gsl_set_error_handler_off();  // a failed fit is an answer here, not an abort
    gsl_multifit_nlinear_fdf fdf {};
    fdf.f = residuals;
    fdf.df = jacobian;
    fdf.n = size_t(n);
    fdf.p = Parameters;
    fdf.params = &points;
    gsl_multifit_nlinear_parameters parameters = gsl_multifit_nlinear_default_parameters();
    const std::unique_ptr<gsl_multifit_nlinear_workspace, Workspace> work(
        gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &parameters, size_t(n), Parameters));
    const std::unique_ptr<gsl_vector, Workspace> start(gsl_vector_alloc(Parameters));
    gsl_vector_set(start.get(), Baseline, baseline0);
    gsl_vector_set(start.get(), Peak, peak0);
    gsl_vector_set(start.get(), Centre, points[top].offsetDeg);
    gsl_vector_set(start.get(), Width, qMax(width0, 1e-3));
    int info = 0;
    if (gsl_multifit_nlinear_init(start.get(), &fdf, work.get()) != GSL_SUCCESS
        || gsl_multifit_nlinear_driver(200, 1e-10, 1e-10, 0.0, nullptr, nullptr, &info, work.get()) != GSL_SUCCESS)
        return refuse(problem, QStringLiteral("the beam could not be fitted to the cut"));

    const gsl_vector *x = gsl_multifit_nlinear_position(work.get());
    const gsl_vector *f = gsl_multifit_nlinear_residual(work.get());
    double squares = 0;
    gsl_blas_ddot(f, f, &squares);
    const double variance = squares / double(n - Parameters);
    const std::unique_ptr<gsl_matrix, Workspace> covariance(gsl_matrix_alloc(Parameters, Parameters));
    gsl_multifit_nlinear_covar(gsl_multifit_nlinear_jac(work.get()), 0.0, covariance.get());

    BeamFit fit;
    fit.baseline = gsl_vector_get(x, Baseline);
    fit.peak = gsl_vector_get(x, Peak);
    fit.centreDeg = gsl_vector_get(x, Centre);
    fit.halfPowerWidthDeg = std::abs(gsl_vector_get(x, Width));
    fit.centreErrorDeg = std::sqrt(variance * gsl_matrix_get(covariance.get(), Centre, Centre));
    fit.widthErrorDeg = std::sqrt(variance * gsl_matrix_get(covariance.get(), Width, Width));
    fit.residual = std::sqrt(squares / double(n));

    double step = span;
    for (qsizetype i = 1; i < n; ++i)
        if (points[i].offsetDeg > points[i - 1].offsetDeg)
            step = qMin(step, points[i].offsetDeg - points[i - 1].offsetDeg);
    if (!std::isfinite(fit.centreDeg) || !std::isfinite(fit.centreErrorDeg) || !(fit.peak > 3 * fit.residual))
        return refuse(problem, QStringLiteral("no peak stands clear of the scatter on the cut"));
    if (fit.centreDeg < points.first().offsetDeg || fit.centreDeg > points.last().offsetDeg)
        return refuse(problem, QStringLiteral("the peak lies outside the cut"));
    if (fit.halfPowerWidthDeg <= step || fit.halfPowerWidthDeg > span)
        return refuse(problem, QStringLiteral("a beam %1° wide does not fit a cut of %2° in steps of %3°")
                                   .arg(fit.halfPowerWidthDeg, 0, 'f', 2)
                                   .arg(span, 0, 'f', 2)
                                   .arg(step, 0, 'f', 2));
    return fit;
}
