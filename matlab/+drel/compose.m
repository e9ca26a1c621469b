function compose(s, file, varargin)
%DREL.COMPOSE  Writes a protocol file (.drel) from a struct.
%   DREL.COMPOSE(S, FILE) writes the protocol S (the struct that drel.read
%   returns, edited or built by hand) to FILE, whole or not at all, with
%   drel compose: what pydrel's methods compose, and what drel check finds
%   no error in. Fields left out keep the values of a new pydrel.Protocol.
%   Warnings of the checks are issued as MATLAB warnings (drel:compose:finding)
%   and do not stop the file.
%
%   DREL.COMPOSE(S, FILE, 'Strict', true) counts warnings as errors;
%   DREL.COMPOSE(S, FILE, 'AllowErrors', true) writes the file even when the
%   checks find errors, for a deliberate test file.
%
%   Floats are written with 17 significant digits (jsonencode writes 15, and
%   loses doubles), an array of one element stays an array, and levels are
%   integers: int16 from drel.read, or integral doubles.
%
%   Errors: drel:compose:refused (not what pydrel composes, or a value out
%   of range: the program's own message with its path, and where the
%   mistake is MATLAB's, a hint in MATLAB's terms), drel:compose:broken
%   (drel check found errors), drel:compose:cannotWrite, drel:compose:type
%   (a value of a type no protocol field has), drel:program:notFound.
%
%   Example, the README's tour in MATLAB:
%
%       s = struct();
%       s.session_duration = 120.0;
%       s.intensity = 0.5;
%       s.channel_b_settings.enabled = true;
%       s.signals = {struct('Sine', struct('amplitude', 1.0, 'frequency', 10.0))};
%       s.channel_a_settings.amplitude1_source.internal = 0;
%       drel.compose(s, 'session.drel');
%
%   See also DREL.READ, DREL.CHECK.
options = struct('Strict', false, 'AllowErrors', false);
for k = 1:2:numel(varargin)
    options.(varargin{k}) = logical(varargin{k + 1});
end
if isstring(file)
    file = char(file);
end
if ~isstruct(s) || ~isscalar(s)
    error('drel:compose:type', 'the protocol must be one struct, not a %s of %s', class(s), mat2str(size(s)));
end
json = [tempname() '.json'];
cleanup = onCleanup(@() drel.internal.delete_if_there(json));
drel.internal.write_text(json, drel.internal.encode(s, drel.internal.shape(), 's'));
args = {'compose', json, '-o', file};
if options.Strict
    args{end + 1} = '--strict';
end
if options.AllowErrors
    args{end + 1} = '--allow-errors';
end
[status, ~, err] = drel.internal.run(args);
lines = regexp(strtrim(strrep(err, json, 'the protocol')), '\r?\n', 'split');
lines = lines(~cellfun(@isempty, lines));
findings = lines(~cellfun(@isempty, regexp(lines, '^the protocol: (error|warning): ', 'once')));
if status == 0
    for k = 1:numel(findings)
        warning('drel:compose:finding', '%s', findings{k});
    end
    return;
end
message = strjoin(lines, sprintf('\n'));
if status == 1
    error('drel:compose:broken', '%s', message);
end
if ~isempty(strfind(message, ': cannot be written: '))
    error('drel:compose:cannotWrite', '%s', message);
end
hint = matlab_hint(message, s);
if ~isempty(hint)
    message = sprintf('%s\n%s', message, hint);
end
error('drel:compose:refused', '%s', message);
end

function hint = matlab_hint(message, s)
% Where the program's path names a field, that field in MATLAB's indexing,
% and what MATLAB habit put the wrong value there.
hint = '';
path = regexp(message, 'the protocol:\d+:\d+: (?:not what pydrel composes: )?([a-z_]+[a-zA-Z0-9_.\[\]]*)', 'tokens', 'once');
if isempty(path)
    return;
end
hint = ['In MATLAB, that is ' to_matlab(path{1}, s) '.'];
if ~isempty(strfind(message, 'must be an array, not an object'))
    hint = [hint ' A struct stands for an array of one element only in a struct array or a cell: ' ...
            'keep it as drel.read returned it, or wrap it as {x}.'];
elseif ~isempty(strfind(message, 'must be an object')) && isfield(s, 'signals') && iscell(s.signals)
    hint = [hint ' A cell array belongs to s.signals only; records of an array are a struct array.'];
end
end

function m = to_matlab(path, s)
% "signals[0].Arbitrary.samples[3]" -> "s.signals{1}.Arbitrary.samples(4)":
% MATLAB counts from 1, and the signals are a cell array.
m = 's';
for piece = strsplit(path, '.')
    name = regexp(piece{1}, '^[^\[]*', 'match', 'once');
    m = [m '.' name]; %#ok<AGROW>
    for index = regexp(piece{1}, '\[(\d+)\]', 'tokens')
        n = str2double(index{1}{1}) + 1;
        if strcmp(name, 'signals') && isfield(s, 'signals') && iscell(s.signals)
            m = sprintf('%s{%d}', m, n);
        else
            m = sprintf('%s(%d)', m, n);
        end
    end
end
end

