#ifndef MIXFIT_TRAINING_KMEANS_H
#define MIXFIT_TRAINING_KMEANS_H

#include <cstdint>

#include "data/data.h"
#include "mixture/mixmodel.h"
#include "training/context.h"

// K-means refinement of a mixture's means, Euclidean or under the metrics of
// its covariances. Both run over the vectors of all ranks when several share
// the data: each rank sums its own, and the sums are added in rank order.
// The forms with a context run in it and end early, leaving the model of
// the last finished iteration, when a stop is requested; those without run
// in the program's context.

// Euclidean k-means on the means of model: each vector goes to the nearest
// mean (the lower index on ties), each mean becomes the average of its
// vectors and each weight the share of the data it received. Runs until no
// mean changes or `iterations` iterations are made. A component without
// vectors keeps its mean and gets weight 0. flag has no effect. Covariances
// are not touched.
void KMeans(Data const& data, MixtureModel& model, int iterations, bool flag);
void KMeans(Data const& data, MixtureModel& model, int iterations, bool flag,
            TrainingContext& context);

// KMeans as the modern fit's start runs it: besides when no mean changes,
// it also stops when the means moved by at most tolerance in all: the sum
// over the components, in order, of the squared Euclidean distances between
// their old and new means.
void KMeansWithTolerance(Data const& data, MixtureModel& model, int iterations, double tolerance,
                         TrainingContext& context);

// The nearest mean of model, as KMeans assigns, for every vector of this
// rank's share of data into labels (data.Count() entries); false, with
// labels unfinished, when a stop was requested.
bool NearestMeans(Data const& data, MixtureModel const& model, int32_t* labels,
                  TrainingContext& context);

// K-means under squared Mahalanobis distances whose metrics are taken from
// the covariances once, at the start: component 0's for every component when
// shared_metric, each component's own otherwise. Makes exactly `iterations`
// iterations. update_covariances then re-estimates every covariance from the
// final assignment (divisor: the component's vector count; a component
// without vectors gets NaN).
void MahalanobisKMeans(Data const& data, MixtureModel& model, bool shared_metric, int iterations,
                       bool update_covariances);
void MahalanobisKMeans(Data const& data, MixtureModel& model, bool shared_metric, int iterations,
                       bool update_covariances, TrainingContext& context);

#endif
