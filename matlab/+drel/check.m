function findings = check(protocol)
%DREL.CHECK  What drel check finds in a protocol: what would go wrong on a
%   stimulator.
%   FINDINGS = DREL.CHECK(FILE) checks the protocol file FILE;
%   FINDINGS = DREL.CHECK(S) checks the struct S (as drel.read returns it)
%   as the file drel.compose would write. FINDINGS is a struct array with
%   the fields severity ('error' or 'warning') and message, in the order
%   and words of drel check; empty (0x0) when it finds nothing.
%
%   Errors: drel:read:cannotRead, drel:read:notProtocol, drel:compose:refused
%   (a struct that pydrel's methods do not compose), drel:program:notFound.
%
%   See also DREL.READ, DREL.COMPOSE.
if isstruct(protocol)
    file = [tempname() '.drel'];
    cleanup = onCleanup(@() drel.internal.delete_if_there(file));
    % The findings come back below, once.
    warning_state = warning('off', 'drel:compose:finding');
    restore = onCleanup(@() warning(warning_state));
    drel.compose(protocol, file, 'AllowErrors', true);
else
    file = char(protocol);
end
[status, text] = drel.internal.run({'check', '--json', file});
report = jsondecode(text);
entry = report.files(1);
if status == 2
    drel.internal.refuse_reading(sprintf('%s: %s', file, entry.error));
end
findings = struct('severity', {}, 'message', {});
items = entry.findings;
if iscell(items)
    items = [items{:}];
end
for k = 1:numel(items)
    findings(end + 1) = struct('severity', items(k).severity, 'message', items(k).message); %#ok<AGROW>
end
end

