// The page's query stands for the native build's host variables:
// ?escape_after=N is RINGSCROLLER_ESCAPE_AFTER=N, ?trace is RINGSCROLLER_TRACE.
Module['preRun'] = [].concat(Module['preRun'] || [], function () {
  const query = new URLSearchParams(location.search);
  if (query.has('escape_after')) ENV['RINGSCROLLER_ESCAPE_AFTER'] = query.get('escape_after');
  if (query.has('trace')) ENV['RINGSCROLLER_TRACE'] = '1';
});
