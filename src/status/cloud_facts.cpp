#include "status/cloud_facts.h"

namespace status {

CloudFacts CloudFactsOf(const ServerAPI& cloud) {
  CloudFacts facts;
  facts.authorised = cloud.Authorised() && !cloud.TokenRejected();
  facts.last_delivery = cloud.LastDelivery();
  facts.pending = cloud.PendingReports();
  facts.reports = cloud.Counters();
  return facts;
}

}  // namespace status
